// The disk-file stream on real files under Wine: open and close, writes and seeks, the last
// Release, and handles wrapped from outside. Reading files through it is the COM tests' part.
#include "streams/hyfile_win.h"
#include "streams/hyserial_win.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class DiskFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[MAX_PATH], name[MAX_PATH];
        GetTempPathA(MAX_PATH, dir);
        ASSERT_NE(GetTempFileNameA(dir, "hyd", 0, name), 0u);
        path_ = name;
    }
    void TearDown() override { DeleteFileA(path_.c_str()); }
    // Writes `bytes` and opens the file unshared, so a second open tells whether it is held.
    HANDLE open(CHyDiskFile& f, const std::string& bytes = "") {
        HANDLE h = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD done = 0;
        ::WriteFile(h, bytes.data(), DWORD(bytes.size()), &done, nullptr);
        CloseHandle(h);
        return f.CreateFile(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
    }
    bool held() const {
        HANDLE h = CreateFileA(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
        CloseHandle(h);
        return false;
    }
    std::string path_;
};

TEST_F(DiskFileTest, OpenCloseWriteAndSeek) {
    CHyDiskFile f;
    ASSERT_NE(open(f, "CF11\r\n"), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(held());
    ULONG n = 0;
    LARGE_INTEGER end{};
    ASSERT_EQ(f.Seek(end, STREAM_SEEK_END, nullptr), S_OK);
    EXPECT_EQ(f.Write("ab", 2, &n), S_OK);
    ASSERT_EQ(f.Seek(end, STREAM_SEEK_SET, nullptr), S_OK);
    char buf[16] = {};
    EXPECT_EQ(f.Read(buf, sizeof buf, &n), S_OK);
    EXPECT_EQ(std::string(buf, n), "CF11\r\nab");
    // A failed open drops what the stream held.
    EXPECT_EQ(
        f.CreateFile((path_ + "x").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
        INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(f.GetHandle(), nullptr);
    EXPECT_FALSE(held());
    const std::size_t cut = path_.find_last_of('\\'); // a name that resolves to the full path
    const std::string name = path_.substr(0, cut) + "\\.\\" + path_.substr(cut + 1);
    HANDLE h = f.CreateFile(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(f.GetHandle(), h);
    EXPECT_STRCASEEQ(f.GetPath().c_str(), path_.c_str());
    f.Close();
    EXPECT_EQ(f.GetPath(), "");
    EXPECT_FALSE(held());
}

TEST_F(DiskFileTest, LastReleaseClosesAndWrappedHandlesSurvive) {
    CHyDiskFile closed;
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(closed.Read(&p, 1, nullptr), E_FAIL);
    EXPECT_EQ(closed.QueryInterface(IID_IPersistStream, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    auto* f = new CHyDiskFile;
    ASSERT_NE(open(*f, "wrapped"), INVALID_HANDLE_VALUE);
    ASSERT_EQ(f->QueryInterface(IID_IStream, &p), S_OK);
    EXPECT_EQ(p, static_cast<IStream*>(f));
    for (ULONG left : {1u, 0u}) {
        EXPECT_TRUE(held());
        EXPECT_EQ(f->Release(), left);
    }
    EXPECT_FALSE(held());
    // A wrapped handle is the caller's: it survives Close and destruction, its position kept.
    HANDLE h = CreateFileA(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    char buf[4] = {};
    DWORD done = 0;
    {
        CHySerial wrapped(h, 0);
        EXPECT_TRUE(wrapped.ReadFile(buf, 3, &done, nullptr));
        wrapped.Close();
    }
    EXPECT_TRUE(::ReadFile(h, buf, 4, &done, nullptr));
    EXPECT_EQ(std::string(buf, done), "pped");
    EXPECT_TRUE(CloseHandle(h));
}

} // namespace
