// The fifteen programming operations. Each follows the same frame (take from
// screen, heading, enter programming mode, loop with progress, first failure
// stops, result line, leave programming mode once) and reports in the host's
// message pane. Each returns true when it succeeded; the window ignores the
// result, the command-line tool turns it into its exit status. The "All"
// operations run their three parts in full and succeed only when all three do.
#pragma once

class CIspAdapter;
class IOperationHost;

class COperations {
public:
    COperations(CIspAdapter& adapter, IOperationHost& host) : m_adapter(adapter), m_host(host) {}

    bool WriteAll();
    bool WriteProg();
    bool WriteData();
    bool WriteLock();
    bool ReadAll();
    bool ReadProg();
    bool ReadData();
    bool ReadLock();
    bool VerifyAll();
    bool VerifyProg();
    bool VerifyData();
    bool VerifyLock();
    bool EraseAll();
    bool EraseProg();
    bool EraseData();

private:
    CIspAdapter& m_adapter;
    IOperationHost& m_host;
};
