// The programmer the operations are given: whichever adapter the open port
// leads to (the ISP adapter, or a UPDI adapter), behind one interface. The
// selected part lives in the ISP adapter's selection for both; before a chip
// is reached the part's protocol is compared with the port's, and a part
// that needs the other kind of adapter gets kProgrammerWrongAdapter with
// nothing sent.
#pragma once

#include <functional>

#include "isp/IspAdapter.h"
#include "ops/Programmer.h"
#include "updi/UpdiAdapter.h"

class CPortProgrammer : public IProgrammer {
public:
    explicit CPortProgrammer(CIspAdapter& isp) : m_isp(isp) {}

    // The port leads to this UPDI adapter (nullptr: to the ISP adapter).
    void UseUpdi(CUpdiAdapter* updi) {
        m_updi = updi;
        if (m_updi != nullptr) {
            m_updi->SetStopCheck(m_stop);
        }
    }
    bool OnUpdi() const { return m_updi != nullptr; }
    Protocol PortProtocol() const { return m_updi != nullptr ? Protocol::Updi : Protocol::Isp; }
    // Whether the selected part is reached through the port's kind of adapter.
    bool PartFitsPort() const {
        const DeviceInfo* device = m_isp.Device();
        return device == nullptr || device->protocol == PortProtocol();
    }

    int EnterProgrammingMode(int checkSignature) override {
        if (!PartFitsPort()) {
            m_refused = true;
            return kProgrammerWrongAdapter;
        }
        m_refused = false;
        return Active().EnterProgrammingMode(checkSignature);
    }
    int LeaveProgrammingMode() override {
        if (m_refused) {
            m_refused = false;  // nothing was begun
            return kProgrammerOk;
        }
        return Active().LeaveProgrammingMode();
    }
    void SetStopCheck(std::function<bool()> check) override {
        m_stop = check;
        m_isp.SetStopCheck(check);
        if (m_updi != nullptr) {
            m_updi->SetStopCheck(std::move(check));
        }
    }
    bool PortNotAnswering() const override { return Active().PortNotAnswering(); }
    std::string EntryTrouble() const override { return Active().EntryTrouble(); }

    // The row found becomes the selection of both.
    int IdentifyDevice() override {
        const int row = Active().IdentifyDevice();
        if (row >= 0 && m_updi != nullptr) {
            m_isp.SelectDeviceRow(row);
        }
        return row;
    }
    const DeviceInfo* Device() const override { return m_isp.Device(); }
    int ProgSize() const override { return m_isp.ProgSize(); }
    int DataSize() const override { return m_isp.DataSize(); }
    int ProgPageSize() const override { return Active().ProgPageSize(); }
    int BatchLength() const override { return Active().BatchLength(); }

    int ReadProgramWord(uint16_t& word, int wordAddress) override {
        return Active().ReadProgramWord(word, wordAddress);
    }
    int ReadProgramWords(uint16_t* words, int* statuses, int wordAddress, int count) override {
        return Active().ReadProgramWords(words, statuses, wordAddress, count);
    }
    int WriteProgramWord(uint16_t word, int wordAddress) override {
        return Active().WriteProgramWord(word, wordAddress);
    }
    int WriteProgramPage(const uint8_t* pageBytes, int pageWordAddress, int& failedWord) override {
        return Active().WriteProgramPage(pageBytes, pageWordAddress, failedWord);
    }
    int ReadDataByte(uint8_t& value, int address) override {
        return Active().ReadDataByte(value, address);
    }
    int ReadDataBytes(uint8_t* values, int* statuses, int address, int count) override {
        return Active().ReadDataBytes(values, statuses, address, count);
    }
    int WriteDataByte(uint8_t value, int address) override {
        return Active().WriteDataByte(value, address);
    }
    int ReadLockBits(int& lockBit1, int& lockBit2, int& fstrt, int& spien) override {
        return Active().ReadLockBits(lockBit1, lockBit2, fstrt, spien);
    }
    int WriteLockBits(int lockBit1, int lockBit2, int fstrt) override {
        return Active().WriteLockBits(lockBit1, lockBit2, fstrt);
    }
    int ReadLockByte(uint8_t& lockByte, uint8_t& reported) override {
        return Active().ReadLockByte(lockByte, reported);
    }
    int WriteLockByte(uint8_t lockByte) override { return Active().WriteLockByte(lockByte); }
    int ReadFuseByte(uint8_t fuse, uint8_t& value) override {
        return Active().ReadFuseByte(fuse, value);
    }
    int WriteFuseByte(uint8_t fuse, uint8_t value) override {
        return Active().WriteFuseByte(fuse, value);
    }
    int ReadFuseAt(size_t index, uint8_t& value) override {
        return Active().ReadFuseAt(index, value);
    }
    int WriteFuseAt(size_t index, uint8_t value) override {
        return Active().WriteFuseAt(index, value);
    }
    int ReadUserRow(uint8_t* data, size_t offset, size_t count) override {
        return Active().ReadUserRow(data, offset, count);
    }
    int WriteUserRow(const uint8_t* data, size_t offset, size_t count) override {
        return Active().WriteUserRow(data, offset, count);
    }
    int ReadSignatureByte(uint8_t& value, int index) override {
        return Active().ReadSignatureByte(value, index);
    }
    int ReadCalibrationByte(uint8_t& value) override { return Active().ReadCalibrationByte(value); }
    int ChipErase() override { return Active().ChipErase(); }
    bool ErasesMemoriesApart() const override { return Active().ErasesMemoriesApart(); }
    int EraseProgram() override { return Active().EraseProgram(); }
    int EraseData() override { return Active().EraseData(); }
    bool WritesAreReadBack() const override { return Active().WritesAreReadBack(); }

private:
    // The UPDI adapter works on the selected part.
    IProgrammer& Active() {
        if (m_updi != nullptr) {
            m_updi->SelectRow(m_isp.Device());
            return *m_updi;
        }
        return m_isp;
    }
    const IProgrammer& Active() const {
        return m_updi != nullptr ? static_cast<const IProgrammer&>(*m_updi) : m_isp;
    }

    CIspAdapter& m_isp;
    CUpdiAdapter* m_updi = nullptr;
    std::function<bool()> m_stop;
    bool m_refused = false;  // the last entry was refused: nothing to leave
};
