// The break string goes through the stream's write slot. A pseudo-terminal never writes short, so
// the short-write case is played by a stream whose write slot moves fewer bytes.
#include "streams/hyserial_win.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class ShortWriter : public CHySerial {
  public:
    ShortWriter() : CHySerial(reinterpret_cast<HANDLE>(0x1234), FILE_FLAG_OVERLAPPED) {}
    BOOL WriteFile(const void* buffer, DWORD count, DWORD* pDone, OVERLAPPED* pOv) override {
        written.append(static_cast<const char*>(buffer), count);
        got_overlapped = pOv != nullptr;
        *pDone = count < limit ? count : limit;
        if (!ok) SetLastError(ERROR_WRITE_FAULT);
        return ok;
    }
    DWORD limit = ~0u;
    BOOL ok = TRUE;
    bool got_overlapped = true;
    std::string written;
};

TEST(SerialBreakString, SevenEqualsSignsWithoutAnOverlappedRecord) {
    struct Case {
        DWORD limit;
        BOOL ok;
        HRESULT expected;
    };
    for (const Case c : {Case{~0u, TRUE, S_OK}, Case{7, TRUE, S_OK}, Case{3, TRUE, E_FAIL},
                         Case{0, TRUE, E_FAIL}, Case{7, FALSE, E_FAIL}}) {
        SCOPED_TRACE(testing::Message() << "limit " << c.limit << " ok " << c.ok);
        ShortWriter port;
        port.m_nBreakType = -5; // any non-zero type sends the string
        port.limit = c.limit;
        port.ok = c.ok;
        EXPECT_EQ(port.SendBreak(nullptr), c.expected);
        EXPECT_EQ(port.written, "=======");
        EXPECT_FALSE(port.got_overlapped);
    }
}

} // namespace
