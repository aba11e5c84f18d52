// The disk-file stream on real files under Wine: open and close, the Win32-shaped face, the
// IStream face as COM clients see it.
#include "streams/hyfile_win.h"
#include "streams/hyserial_win.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// A scratch file in the temp folder, removed afterwards.
class DiskFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[MAX_PATH];
        ASSERT_NE(GetTempPathA(MAX_PATH, dir), 0u);
        char name[MAX_PATH];
        ASSERT_NE(GetTempFileNameA(dir, "hyd", 0, name), 0u);
        path_ = name;
    }
    void TearDown() override { DeleteFileA(path_.c_str()); }

    void put(const std::string& bytes) {
        HANDLE h = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD done = 0;
        ASSERT_TRUE(::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr));
        CloseHandle(h);
    }

    // Opens read/write and unshared, so a second exclusive open tells whether it is still held.
    HANDLE open(CHyDiskFile& f, DWORD flags = 0) {
        return f.CreateFile(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            flags, nullptr);
    }

    bool held() const {
        HANDLE h = CreateFileA(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
        CloseHandle(h);
        return false;
    }

    static ULONGLONG position(IStream* s) {
        LARGE_INTEGER zero{};
        ULARGE_INTEGER pos{};
        EXPECT_EQ(s->Seek(zero, STREAM_SEEK_CUR, &pos), S_OK);
        return pos.QuadPart;
    }

    static ULONGLONG size(IStream* s) {
        STATSTG st{};
        EXPECT_EQ(s->Stat(&st, STATFLAG_NONAME), S_OK);
        return st.cbSize.QuadPart;
    }

    std::string path_;
};

TEST_F(DiskFileTest, OpenFailuresLeaveTheStreamClosed) {
    CHyDiskFile f;
    std::string missing = path_ + ".missing";
    EXPECT_EQ(f.CreateFile(missing.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(f.GetHandle(), nullptr);
    EXPECT_TRUE(f.GetPath().empty());

    // A failed open on an open stream still drops the file it held.
    ASSERT_NE(open(f), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(held());
    EXPECT_EQ(f.CreateFile(missing.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(f.GetHandle(), nullptr);
    EXPECT_FALSE(held());
    char c;
    ULONG n = 7;
    EXPECT_EQ(f.Read(&c, 1, &n), E_FAIL);
    EXPECT_EQ(n, 7u);
}

TEST_F(DiskFileTest, OpenKeepsFullPathAndFlagsAndCloseReleasesTheFile) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    char before[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, before);
    ASSERT_TRUE(SetCurrentDirectoryA(dir));
    const std::string relative = path_.substr(path_.find_last_of('\\') + 1);

    CHyDiskFile f;
    HANDLE h = f.CreateFile(relative.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    SetCurrentDirectoryA(before);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(f.GetHandle(), h);
    EXPECT_EQ(f.GetOpenFlags(), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
    EXPECT_STRCASEEQ(f.GetPath().c_str(), path_.c_str());

    f.Close();
    EXPECT_EQ(f.GetHandle(), nullptr);
    EXPECT_TRUE(f.GetPath().empty());
    EXPECT_EQ(f.GetOpenFlags(), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
    f.Close(); // twice is harmless
}

TEST_F(DiskFileTest, DestructorClosesAnOwnedHandle) {
    {
        CHyDiskFile f;
        ASSERT_NE(open(f), INVALID_HANDLE_VALUE);
        EXPECT_TRUE(held());
    }
    EXPECT_FALSE(held());
}

TEST_F(DiskFileTest, ByteReadsThroughTheWin32FaceEndWithZeroAtEndOfFile) {
    put("CF11\r\n");
    CHyDiskFile f;
    ASSERT_NE(f.CreateFile(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    std::string got;
    for (;;) {
        char c = 0;
        DWORD done = 99;
        ASSERT_TRUE(f.ReadFile(&c, 1, &done, nullptr));
        if (done == 0) break;
        ASSERT_EQ(done, 1u);
        got += c;
    }
    EXPECT_EQ(got, "CF11\r\n");
}

TEST_F(DiskFileTest, IStreamReadGivesShortCountsThenZeroAtEnd) {
    put("0123456789");
    CHyDiskFile f;
    ASSERT_NE(open(f), INVALID_HANDLE_VALUE);
    IStream* s = &f;
    char buf[32] = {};
    ULONG n = 0;
    EXPECT_EQ(s->Read(buf, 4, &n), S_OK);
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(std::string(buf, 4), "0123");
    EXPECT_EQ(s->Read(buf, sizeof buf, &n), S_OK);
    EXPECT_EQ(n, 6u);
    EXPECT_EQ(std::string(buf, 6), "456789");
    n = 5;
    EXPECT_EQ(s->Read(buf, sizeof buf, &n), S_OK);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(s->Read(buf, 1, nullptr), S_OK); // the count pointer is optional
}

TEST_F(DiskFileTest, OverlappedOpenReadsAtOffsetZeroEachTime) {
    // The stream's own OVERLAPPED keeps offset 0, so an overlapped disk file never advances.
    put("ABCDEFGH");
    CHyDiskFile f;
    ASSERT_NE(open(f, FILE_FLAG_OVERLAPPED), INVALID_HANDLE_VALUE);
    EXPECT_EQ(f.GetOpenFlags(), static_cast<DWORD>(FILE_FLAG_OVERLAPPED));
    for (int i = 0; i < 2; ++i) {
        char buf[4] = {};
        DWORD done = 0;
        ASSERT_TRUE(f.ReadFile(buf, 4, &done, nullptr));
        EXPECT_EQ(done, 4u);
        EXPECT_EQ(std::string(buf, 4), "ABCD");
    }
    // With a caller record the caller chooses the offset and waits itself.
    OVERLAPPED ov{};
    ov.Offset = 6;
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    char buf[8] = {};
    DWORD done = 0;
    if (!f.ReadFile(buf, 8, &done, &ov)) {
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        ASSERT_TRUE(f.GetOverlappedResult(&ov, &done, TRUE));
    }
    EXPECT_EQ(done, 2u);
    EXPECT_EQ(std::string(buf, 2), "GH");
    CloseHandle(ov.hEvent);
}

TEST_F(DiskFileTest, WriteThenStatAndReadBack) {
    CHyDiskFile f;
    ASSERT_NE(open(f), INVALID_HANDLE_VALUE);
    IStream* s = &f;
    ULONG n = 0;
    EXPECT_EQ(s->Write("hello, port", 11, &n), S_OK);
    EXPECT_EQ(n, 11u);
    EXPECT_EQ(s->Write("!", 1, nullptr), S_OK);

    STATSTG st;
    std::memset(&st, 0xCD, sizeof st);
    EXPECT_EQ(s->Stat(&st, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(st.cbSize.QuadPart, 12u);
    EXPECT_EQ(st.pwcsName, nullptr);
    EXPECT_EQ(st.type, 0u);
    EXPECT_EQ(st.grfMode, 0u);
    EXPECT_EQ(st.mtime.dwLowDateTime, 0u);
    EXPECT_EQ(st.clsid, GUID_NULL);

    DWORD high = 1;
    EXPECT_EQ(f.GetFileSize(&high), 12u);
    EXPECT_EQ(high, 0u);

    LARGE_INTEGER start{};
    ASSERT_EQ(s->Seek(start, STREAM_SEEK_SET, nullptr), S_OK);
    char buf[16] = {};
    EXPECT_EQ(s->Read(buf, sizeof buf, &n), S_OK);
    EXPECT_EQ(std::string(buf, n), "hello, port!");
}

TEST_F(DiskFileTest, SeekOrigins) {
    put("0123456789");
    CHyDiskFile f;
    ASSERT_NE(open(f), INVALID_HANDLE_VALUE);
    IStream* s = &f;
    struct Case {
        LONGLONG move;
        DWORD origin;
        HRESULT hr;
        ULONGLONG expected; // position afterwards
    };
    const Case cases[] = {
        {5, STREAM_SEEK_SET, S_OK, 5},
        {-2, STREAM_SEEK_CUR, S_OK, 3},
        {4, STREAM_SEEK_CUR, S_OK, 7},
        {-1, STREAM_SEEK_END, S_OK, 9},
        {0, STREAM_SEEK_END, S_OK, 10},
        {3, STREAM_SEEK_END, S_OK, 13}, // past the end is allowed
        {2, 3, E_FAIL, 13},
        {0, 0xFFFFFFFF, E_FAIL, 13},
        {-1, STREAM_SEEK_SET, E_FAIL, 13}, // before the start
        {1, STREAM_SEEK_SET, S_OK, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "move " << c.move << " origin " << c.origin);
        LARGE_INTEGER move;
        move.QuadPart = c.move;
        ULARGE_INTEGER pos;
        pos.QuadPart = 0xDEAD;
        EXPECT_EQ(s->Seek(move, c.origin, &pos), c.hr);
        if (c.hr == S_OK) {
            EXPECT_EQ(pos.QuadPart, c.expected);
        }
        EXPECT_EQ(position(s), c.expected);
    }
    char ch = 0;
    EXPECT_EQ(s->Read(&ch, 1, nullptr), S_OK);
    EXPECT_EQ(ch, '1');

    // The file-pointer slot of the disk file is the plain Win32 call.
    LONG high = 0;
    EXPECT_EQ(f.SetFilePointer(8, &high, FILE_BEGIN), 8u);
    EXPECT_EQ(position(s), 8u);
}

TEST_F(DiskFileTest, SetSizeTruncatesExtendsAndRefusesHugeSizes) {
    put("0123456789");
    CHyDiskFile f;
    ASSERT_NE(open(f), INVALID_HANDLE_VALUE);
    IStream* s = &f;

    ULARGE_INTEGER n;
    n.QuadPart = 4;
    EXPECT_EQ(s->SetSize(n), S_OK);
    EXPECT_EQ(size(s), 4u);
    EXPECT_EQ(position(s), 4u);
    char buf[8];
    ULONG got = 9;
    EXPECT_EQ(s->Read(buf, sizeof buf, &got), S_OK);
    EXPECT_EQ(got, 0u);

    n.QuadPart = 100;
    EXPECT_EQ(s->SetSize(n), S_OK);
    EXPECT_EQ(size(s), 100u);

    for (DWORD high : {0x80000000u, 0xFFFFFFFFu}) {
        n.HighPart = high;
        n.LowPart = 0;
        EXPECT_EQ(s->SetSize(n), E_FAIL);
        EXPECT_EQ(size(s), 100u);
        EXPECT_EQ(position(s), 100u);
    }

    // The end-of-file slot cuts at the current position.
    LONG high = 0;
    f.SetFilePointer(7, &high, FILE_BEGIN);
    EXPECT_TRUE(f.SetEndOfFile());
    EXPECT_EQ(size(s), 7u);
}

TEST_F(DiskFileTest, ClosedStreamResults) {
    CHyDiskFile f;
    IStream* s = &f;
    LARGE_INTEGER zero{};
    ULARGE_INTEGER size{};
    STATSTG st{};
    char c = 0;
    EXPECT_EQ(s->Seek(zero, STREAM_SEEK_SET, nullptr), E_FAIL);
    EXPECT_EQ(s->SetSize(size), E_FAIL);
    EXPECT_EQ(s->Stat(&st, 0), E_NOTIMPL);
    EXPECT_EQ(s->Read(&c, 1, nullptr), E_FAIL);
    EXPECT_EQ(s->Write(&c, 1, nullptr), E_FAIL);
}

TEST_F(DiskFileTest, MembersThatAreNotImplemented) {
    CHyDiskFile f;
    ASSERT_NE(open(f), INVALID_HANDLE_VALUE);
    IStream* s = &f;
    ULARGE_INTEGER a{}, b{};
    IStream* clone = reinterpret_cast<IStream*>(1);
    EXPECT_EQ(s->CopyTo(s, a, nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(s->Commit(STGC_DEFAULT), E_NOTIMPL);
    EXPECT_EQ(s->Revert(), E_NOTIMPL);
    EXPECT_EQ(s->LockRegion(a, b, LOCK_WRITE), E_NOTIMPL);
    EXPECT_EQ(s->UnlockRegion(a, b, LOCK_WRITE), E_NOTIMPL);
    EXPECT_EQ(s->Clone(&clone), E_NOTIMPL);
}

TEST_F(DiskFileTest, QueryInterfaceAnswersOnlyUnknownAndStream) {
    CHyDiskFile f;
    IStream* face = &f;
    void* p = nullptr;
    for (REFIID iid : {IID_IUnknown, IID_IStream}) {
        p = nullptr;
        ASSERT_EQ(f.QueryInterface(iid, &p), S_OK);
        EXPECT_EQ(p, static_cast<void*>(face));
    }
    EXPECT_EQ(f.Release(), 2u); // two references were handed out above
    EXPECT_EQ(face->Release(), 1u);

    for (REFIID iid : {IID_IPersist, IID_IPersistStream, IID_ISequentialStream, IID_IStorage,
                       IID_IClassFactory}) {
        p = reinterpret_cast<void*>(1);
        EXPECT_EQ(face->QueryInterface(iid, &p), E_NOINTERFACE);
        EXPECT_EQ(p, nullptr);
    }
    EXPECT_EQ(face->QueryInterface(IID_IStream, nullptr), E_POINTER);
    EXPECT_EQ(face->AddRef(), 2u);
    EXPECT_EQ(face->Release(), 1u);
}

TEST_F(DiskFileTest, LastReleaseDeletesTheObjectAndClosesTheFile) {
    auto* f = new CHyDiskFile;
    ASSERT_NE(open(*f), INVALID_HANDLE_VALUE);
    IStream* s = nullptr;
    ASSERT_EQ(f->QueryInterface(IID_IStream, reinterpret_cast<void**>(&s)), S_OK);
    EXPECT_EQ(s->AddRef(), 3u);
    EXPECT_EQ(s->Release(), 2u);
    EXPECT_EQ(s->Release(), 1u);
    EXPECT_TRUE(held());
    EXPECT_EQ(s->Release(), 0u);
    EXPECT_FALSE(held());
}

TEST_F(DiskFileTest, ForeignCopyToWritesThroughTheFace) {
    // OLE's memory stream drives our stream through its vtable only.
    IStream* mem = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &mem), S_OK);
    const char text[] = "through the vtable";
    ASSERT_EQ(mem->Write(text, sizeof text - 1, nullptr), S_OK);
    LARGE_INTEGER zero{};
    mem->Seek(zero, STREAM_SEEK_SET, nullptr);

    CHyDiskFile f;
    ASSERT_NE(open(f), INVALID_HANDLE_VALUE);
    ULARGE_INTEGER all, read{}, written{};
    all.QuadPart = 1000;
    EXPECT_EQ(mem->CopyTo(&f, all, &read, &written), S_OK);
    EXPECT_EQ(written.QuadPart, sizeof text - 1);
    mem->Release();
    EXPECT_EQ(size(&f), sizeof text - 1);
}

TEST_F(DiskFileTest, WrappedHandleSurvivesCloseAndDestruction) {
    put("wrapped");
    HANDLE h = CreateFileA(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    {
        CHySerial s(h, 0);
        EXPECT_EQ(s.GetHandle(), h);
        EXPECT_TRUE(s.GetPath().empty());
        char buf[3] = {};
        DWORD done = 0;
        EXPECT_TRUE(s.ReadFile(buf, 3, &done, nullptr));
        EXPECT_EQ(std::string(buf, done), "wra");
        s.Close();
        EXPECT_EQ(s.GetHandle(), nullptr);
    }
    {
        CHySerial s(h, 0); // destroyed without Close
    }
    char buf[4] = {};
    DWORD done = 0;
    EXPECT_TRUE(::ReadFile(h, buf, 4, &done, nullptr)); // still open, position kept
    EXPECT_EQ(std::string(buf, done), "pped");
    EXPECT_TRUE(CloseHandle(h));
}

} // namespace
