// The disk-file stream on real files under Wine (open and close, the Win32-shaped face, the IStream
// face), the break string through the write slot, and the settings object's persisted record.
#include "streams/hyfile_win.h"
#include "streams/hyserial_win.h"
#include "streams/sercfg_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A scratch file in the temp folder, removed afterwards.
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
    HANDLE open(CHyDiskFile& f, const std::string& bytes = "", DWORD flags = 0) {
        HANDLE h = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD done = 0;
        ::WriteFile(h, bytes.data(), DWORD(bytes.size()), &done, nullptr);
        CloseHandle(h);
        return f.CreateFile(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            flags, nullptr);
    }
    bool held() const {
        HANDLE h = CreateFileA(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
        CloseHandle(h);
        return false;
    }
    // Position and size as the IStream face reports them.
    static std::pair<ULONGLONG, ULONGLONG> where(IStream* s) {
        ULARGE_INTEGER pos{};
        STATSTG st{};
        EXPECT_EQ(s->Seek({}, STREAM_SEEK_CUR, &pos), S_OK);
        EXPECT_EQ(s->Stat(&st, STATFLAG_NONAME), S_OK);
        return {pos.QuadPart, st.cbSize.QuadPart};
    }
    std::string path_;
};

TEST_F(DiskFileTest, OpenCloseAndTheFullPath) {
    CHyDiskFile f;
    ASSERT_NE(open(f), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(held());
    // A failed open drops what the stream held.
    const std::string missing = path_ + ".missing";
    EXPECT_EQ(f.CreateFile(missing.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(f.GetHandle(), nullptr);
    EXPECT_FALSE(held());
    char dir[MAX_PATH], before[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    GetCurrentDirectoryA(MAX_PATH, before);
    SetCurrentDirectoryA(dir);
    HANDLE h = f.CreateFile(path_.substr(path_.find_last_of('\\') + 1).c_str(), GENERIC_READ, 0,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    SetCurrentDirectoryA(before);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(f.GetHandle(), h);
    EXPECT_EQ(f.GetOpenFlags(), DWORD(FILE_ATTRIBUTE_NORMAL));
    EXPECT_STRCASEEQ(f.GetPath().c_str(), path_.c_str());
    f.Close();
    EXPECT_EQ(f.GetHandle(), nullptr);
    EXPECT_EQ(f.GetPath(), "");
    EXPECT_FALSE(held());
    {
        CHyDiskFile scoped;
        ASSERT_NE(open(scoped), INVALID_HANDLE_VALUE);
    }
    EXPECT_FALSE(held()); // the destructor closes an owned handle
}

TEST_F(DiskFileTest, ReadsWritesSeeksAndSizes) {
    CHyDiskFile f;
    ASSERT_NE(open(f, "0123456789"), INVALID_HANDLE_VALUE);
    IStream* s = &f;
    char buf[16] = {};
    ULONG n = 0;
    DWORD done = 0;
    EXPECT_TRUE(f.ReadFile(buf, 1, &done, nullptr)); // the Win32 face
    EXPECT_EQ(s->Read(buf + 1, 3, &n), S_OK);
    EXPECT_EQ(std::string(buf, 1 + n), "0123");
    EXPECT_EQ(s->Read(buf, sizeof buf, &n), S_OK); // short at the end, then nothing
    EXPECT_EQ(std::string(buf, n), "456789");
    EXPECT_EQ(s->Read(buf, sizeof buf, &n), S_OK);
    EXPECT_EQ(n, 0u);
    // Move, origin, result, position afterwards.
    constexpr DWORD SET = STREAM_SEEK_SET, CUR = STREAM_SEEK_CUR, END = STREAM_SEEK_END;
    const std::tuple<LONGLONG, DWORD, HRESULT, ULONGLONG> seeks[] = {
        {5, SET, S_OK, 5},  {-2, CUR, S_OK, 3},    {-1, END, S_OK, 9}, {3, END, S_OK, 13},
        {2, 3, E_FAIL, 13}, {-1, SET, E_FAIL, 13}, {1, SET, S_OK, 1}};
    for (const auto& [move, origin, hr, at] : seeks) {
        ULARGE_INTEGER pos{};
        EXPECT_EQ(s->Seek(LARGE_INTEGER{.QuadPart = move}, origin, &pos), hr) << move;
        EXPECT_EQ(pos.QuadPart, hr == S_OK ? at : 0) << move;
        EXPECT_EQ(where(s).first, at) << move;
    }
    EXPECT_EQ(s->Write("ab", 2, &n), S_OK);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(s->Write("!", 1, nullptr), S_OK);
    LONG high = 0;
    EXPECT_EQ(f.SetFilePointer(0, &high, FILE_BEGIN), 0u);
    EXPECT_EQ(s->Read(buf, sizeof buf, &n), S_OK);
    EXPECT_EQ(std::string(buf, n), "0ab!456789");
    // New size, result, then size and position.
    constexpr ULONGLONG huge = 0x8000000000000000ull, huger = 0xFFFFFFFF00000000ull;
    const std::tuple<ULONGLONG, HRESULT, ULONGLONG> sizes[] = {
        {4, S_OK, 4}, {100, S_OK, 100}, {huge, E_FAIL, 100}, {huger, E_FAIL, 100}};
    for (const auto& [to, hr, size] : sizes) {
        EXPECT_EQ(s->SetSize(ULARGE_INTEGER{.QuadPart = to}), hr);
        EXPECT_EQ(where(s), std::pair(size, size));
    }
    STATSTG st;
    std::memset(&st, 0xCD, sizeof st);
    EXPECT_EQ(s->Stat(&st, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(st.pwcsName, nullptr);
    EXPECT_EQ(st.type + st.mtime.dwLowDateTime + st.grfMode, 0u);
    DWORD size_high = 1;
    EXPECT_EQ(f.GetFileSize(&size_high), 100u);
    EXPECT_EQ(size_high, 0u);
    f.SetFilePointer(7, &high, FILE_BEGIN);
    EXPECT_TRUE(f.SetEndOfFile());
    EXPECT_EQ(where(s), std::pair(7ull, 7ull));
}

TEST_F(DiskFileTest, OverlappedOpenReadsAtOffsetZeroEachTime) {
    CHyDiskFile f;
    ASSERT_NE(open(f, "ABCDEFGH", FILE_FLAG_OVERLAPPED), INVALID_HANDLE_VALUE);
    char buf[8] = {};
    DWORD done = 0;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(f.ReadFile(buf, 4, &done, nullptr));
        EXPECT_EQ(std::string(buf, done), "ABCD");
    }
    // With a record of the caller's the caller chooses the offset and waits itself.
    OVERLAPPED ov{};
    ov.Offset = 6;
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!f.ReadFile(buf, 8, &done, &ov)) {
        ASSERT_EQ(GetLastError(), DWORD(ERROR_IO_PENDING));
        ASSERT_TRUE(f.GetOverlappedResult(&ov, &done, TRUE));
    }
    EXPECT_EQ(std::string(buf, done), "GH");
    CloseHandle(ov.hEvent);
}

TEST_F(DiskFileTest, ClosedStreamsTheComFaceAndWrappedHandles) {
    CHyDiskFile closed;
    IStream* s = &closed;
    STATSTG st{};
    EXPECT_EQ(s->Seek({}, STREAM_SEEK_SET, nullptr), E_FAIL);
    EXPECT_EQ(s->SetSize({}), E_FAIL);
    EXPECT_EQ(s->Stat(&st, 0), E_NOTIMPL);
    EXPECT_EQ(s->Read(&st, 1, nullptr), E_FAIL);
    EXPECT_EQ(s->Write("x", 1, nullptr), E_FAIL);
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(s->QueryInterface(IID_IPersistStream, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    // The last Release deletes the object and closes its file.
    auto* f = new CHyDiskFile;
    ASSERT_NE(open(*f, "wrapped"), INVALID_HANDLE_VALUE);
    IStream* face = nullptr;
    ASSERT_EQ(f->QueryInterface(IID_IStream, reinterpret_cast<void**>(&face)), S_OK);
    EXPECT_EQ(face, static_cast<IStream*>(f));
    for (ULONG left : {1u, 0u}) {
        EXPECT_TRUE(held());
        EXPECT_EQ(face->Release(), left);
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
        EXPECT_EQ(wrapped.GetHandle(), nullptr);
    }
    { CHySerial dropped(h, 0); }
    EXPECT_TRUE(::ReadFile(h, buf, 4, &done, nullptr));
    EXPECT_EQ(std::string(buf, done), "pped");
    EXPECT_TRUE(CloseHandle(h));
}

// A port whose write moves fewer bytes, played by a stream whose write slot does.
class ShortWriter : public CHySerial {
  public:
    ShortWriter() : CHySerial(reinterpret_cast<HANDLE>(0x1234), FILE_FLAG_OVERLAPPED) {}
    BOOL WriteFile(const void* buffer, DWORD count, DWORD* pDone, OVERLAPPED* pOv) override {
        written.append(static_cast<const char*>(buffer), count);
        *pDone = std::min(count, limit);
        return pOv == nullptr && ok;
    }
    DWORD limit = ~0u;
    BOOL ok = TRUE;
    std::string written;
};

TEST(SerialBreakString, SevenEqualsSignsThroughTheWriteSlot) {
    for (const auto& [limit, ok, expected] :
         {std::tuple{~0u, TRUE, S_OK}, {7u, TRUE, S_OK}, {6u, TRUE, E_FAIL}, {7u, FALSE, E_FAIL}}) {
        ShortWriter port;
        port.m_nBreakType = -5; // any type but 0 sends the string
        port.limit = limit, port.ok = ok;
        EXPECT_EQ(port.SendBreak(nullptr), expected) << limit;
        EXPECT_EQ(port.written, "=======");
    }
}

TEST(SerCfg, RecordDirtyFlagAndIdentity) {
    using words = std::vector<DWORD>;
    const auto of = [](const CSerCfg& c) {
        const auto* w = reinterpret_cast<const DWORD*>(&c.m_settings);
        return words(w, w + 10);
    };
    CSerCfg saved(115200, 2, 2, 0x8000, 0x80);
    EXPECT_EQ(of(saved), (words{115200, 2, 2, 0x8000, 0x80, 0, 0, 4000, 0, 500}));
    EXPECT_EQ(saved.IsDirty(), S_FALSE);
    saved.m_settings.timeouts = {11, 12, 13, 14, 15};
    saved.m_fDirty = 1;
    IStream* m = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &m), S_OK);
    ASSERT_EQ(saved.Save(m, FALSE), S_OK);
    EXPECT_EQ(saved.IsDirty(), S_OK);
    const DWORD other_version[11] = {2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    ASSERT_EQ(m->Write(other_version, sizeof other_version, nullptr), S_OK);
    ASSERT_EQ(saved.Save(m, TRUE), S_OK);
    EXPECT_EQ(saved.IsDirty(), S_FALSE);
    words record(11);
    ASSERT_EQ(m->Seek({}, STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(m->Read(record.data(), 44, nullptr), S_OK);
    EXPECT_EQ(record, (words{1, 115200, 2, 2, 0x8000, 0x80, 11, 12, 13, 14, 15}));
    // Of a record of another version only the version word is taken; the settings stay.
    CSerCfg loaded(9600, 0, 0, 1, 2);
    for (const LONGLONG at : {0, 44}) {
        ASSERT_EQ(m->Seek(LARGE_INTEGER{.QuadPart = at}, STREAM_SEEK_SET, nullptr), S_OK);
        EXPECT_EQ(loaded.Load(m), S_OK);
        EXPECT_EQ(of(loaded), words(record.begin() + 1, record.end()));
    }
    ULARGE_INTEGER pos{};
    ASSERT_EQ(m->Seek({}, STREAM_SEEK_CUR, &pos), S_OK);
    EXPECT_EQ(pos.QuadPart, 48u);
    EXPECT_EQ(loaded.IsDirty(), S_FALSE);
    m->Release();
    ULARGE_INTEGER size{};
    CLSID id{};
    EXPECT_EQ(loaded.GetSizeMax(&size), S_OK);
    EXPECT_EQ(size.QuadPart, 44u);
    EXPECT_EQ(loaded.GetClassID(&id), S_OK);
    EXPECT_EQ(id, hyd::IID_SerCfgSettings);
    void* self = nullptr;
    EXPECT_EQ(loaded.QueryInterface(hyd::IID_SerCfgSettings, &self), S_OK);
    EXPECT_EQ(self, static_cast<IPersistStream*>(&loaded));
    EXPECT_EQ(loaded.QueryInterface(IID_IPersist, &self), E_NOINTERFACE);
}

} // namespace
