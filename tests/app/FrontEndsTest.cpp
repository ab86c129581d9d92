// The window and the command-line tool, given the same actions on the same
// simulated chip, post the same message lines and write the same file: both
// run them through one programming session.
#include <QtTest>
#include <sstream>

#include "app/CommandIds.h"
#include "cli/CliOptions.h"
#include "cli/CliRunner.h"
#include "sim/VirtualCounter.h"
#include "tests/app/AppTestSupport.h"

namespace {

// Thirteen instructions and the end record.
const char* const kProgram =
    ":1000000001E007BB1127102718BB24E08827992798\r\n"
    ":0A0010000197F1F72A95D1F7F6CF1A\r\n"
    ":00000001FF\r\n";

std::string PlainLineEnds(std::string text) {
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
        text.erase(at, 1);
    }
    return text;
}

}  // namespace

class FrontEndsTest : public QObject {
    Q_OBJECT

private slots:
    void sameActionsGiveTheSameLinesAndFiles();
};

void FrontEndsTest::sameActionsGiveTheSameLinesAndFiles() {
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("a.hex"));
    const QString read = dir.filePath(QStringLiteral("b.hex"));
    QVERIFY(WriteBytes(program, kProgram));

    // The window: the stored device is the default AT90S8535.
    CTestSettings settings;
    CScriptedChooser chooser;
    chooser.m_queuedAnswers << program << read;
    CVirtualCounter counter;
    auto dlg = MakeWindow(settings, chooser, &counter);
    for (int id : {ids::kAutoDetect, ids::kEraseAll, ids::kOpenProgFile, ids::kWriteProg,
                   ids::kReadProg, ids::kSaveAsProgFile}) {
        dlg->OnCommand(id);
    }
    const std::string windowLines = PlainLineEnds(dlg->m_strMessages);
    const QByteArray windowFile = ReadBytes(read);
    QVERIFY(QFile::remove(read));

    // The tool, with the same actions in its words.
    CliOptions options;
    std::string error;
    QVERIFY(
        ParseCliArguments({"--port=sim:AT90S8535", "--device=8535", "detect", "erase", "write-prog",
                           program.toStdString(), "read-prog", read.toStdString()},
                          options, error));
    std::ostringstream out;
    std::ostringstream err;
    QCOMPARE(RunCli(options, out, err, false), kCliExitOk);

    QCOMPARE(QString::fromStdString(out.str()), QString::fromStdString(windowLines));
    QVERIFY(windowLines.find(" Writing : Complete\n") != std::string::npos);
    QCOMPARE(ReadBytes(read), windowFile);
    QVERIFY(!windowFile.isEmpty());
}

QTEST_MAIN(FrontEndsTest)
#include "FrontEndsTest.moc"
