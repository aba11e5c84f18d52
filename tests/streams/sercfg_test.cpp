// The serial settings object away from a port: its persisted record through real OLE and disk
// streams, dirty state, identity and reference counting.
#include "streams/hyfile_win.h"
#include "streams/sercfg_win.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Words = std::vector<DWORD>;

Words words(const CSerCfg& c) {
    Words w(10);
    std::memcpy(w.data(), &c.m_settings, sizeof c.m_settings);
    return w;
}

void set_words(CSerCfg& c, const Words& w) {
    std::memcpy(&c.m_settings, w.data(), sizeof c.m_settings);
}

struct MemStream {
    MemStream() { EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &s), S_OK); }
    ~MemStream() { s->Release(); }
    std::vector<unsigned char> bytes() const {
        STATSTG st{};
        s->Stat(&st, STATFLAG_NONAME);
        std::vector<unsigned char> b(st.cbSize.LowPart);
        LARGE_INTEGER zero{};
        ULARGE_INTEGER keep{};
        s->Seek(zero, STREAM_SEEK_CUR, &keep);
        s->Seek(zero, STREAM_SEEK_SET, nullptr);
        ULONG n = 0;
        s->Read(b.data(), static_cast<ULONG>(b.size()), &n);
        LARGE_INTEGER back;
        back.QuadPart = static_cast<LONGLONG>(keep.QuadPart);
        s->Seek(back, STREAM_SEEK_SET, nullptr);
        return b;
    }
    void rewind() {
        LARGE_INTEGER zero{};
        s->Seek(zero, STREAM_SEEK_SET, nullptr);
    }
    ULONGLONG position() {
        LARGE_INTEGER zero{};
        ULARGE_INTEGER pos{};
        s->Seek(zero, STREAM_SEEK_CUR, &pos);
        return pos.QuadPart;
    }
    IStream* s = nullptr;
};

DWORD le32(const std::vector<unsigned char>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<DWORD>(b[at + 3]) << 24;
}

TEST(SerCfg, ConstructorFillsArgumentsAndDefaultTimeouts) {
    CSerCfg c(9600, 0, 0, 32768, 128);
    EXPECT_EQ(words(c), (Words{9600, 0, 0, 32768, 128, 0, 0, 4000, 0, 500}));
    EXPECT_EQ(c.m_cRef, 1);
    EXPECT_EQ(c.IsDirty(), S_FALSE);
    c.m_fDirty = 1;
    EXPECT_EQ(c.IsDirty(), S_OK);
}

TEST(SerCfg, SaveWritesTheVersionedRecordAndLoadRestoresAllTenWords) {
    const Words all{115200, 2, 2, 0x8000, 0x80, 11, 12, 13, 14, 15};
    CSerCfg saved(1, 1, 1, 1, 1);
    set_words(saved, all);
    MemStream m;
    ASSERT_EQ(saved.Save(m.s, FALSE), S_OK);

    const auto b = m.bytes();
    ASSERT_EQ(b.size(), 44u);
    EXPECT_EQ(le32(b, 0), 1u);
    for (size_t i = 0; i < 10; ++i) EXPECT_EQ(le32(b, 4 + 4 * i), all[i]) << "word " << i;

    m.rewind();
    CSerCfg loaded(9600, 0, 0, 0, 0);
    ASSERT_EQ(loaded.Load(m.s), S_OK);
    EXPECT_EQ(words(loaded), all);
    EXPECT_EQ(m.position(), 44u);
    EXPECT_EQ(loaded.IsDirty(), S_FALSE); // Load leaves the flag alone
}

TEST(SerCfg, RecordOfAnotherVersionLeavesSettingsAndConsumesOnlyTheVersion) {
    for (DWORD version : {0u, 2u, 0x01000000u}) {
        SCOPED_TRACE(version);
        MemStream m;
        ASSERT_EQ(m.s->Write(&version, 4, nullptr), S_OK);
        const Words other{1200, 4, 1, 5, 6, 7, 8, 9, 10, 11};
        ASSERT_EQ(m.s->Write(other.data(), 40, nullptr), S_OK);
        m.rewind();

        CSerCfg c(19200, 1, 2, 32768, 128);
        c.m_fDirty = 1;
        const Words before = words(c);
        EXPECT_EQ(c.Load(m.s), S_OK);
        EXPECT_EQ(words(c), before);
        EXPECT_EQ(m.position(), 4u);
        EXPECT_EQ(c.IsDirty(), S_OK);
    }
}

TEST(SerCfg, FailingStreamsPassTheirResultBack) {
    // A closed disk stream fails every read and write with E_FAIL.
    CHyDiskFile closed;
    CSerCfg c(9600, 0, 0, 1, 2);
    c.m_fDirty = 1;
    EXPECT_EQ(c.Save(&closed, TRUE), E_FAIL);
    EXPECT_EQ(c.IsDirty(), S_OK); // not cleared when the save failed
    EXPECT_EQ(c.Load(&closed), E_FAIL);
    EXPECT_EQ(words(c), (Words{9600, 0, 0, 1, 2, 0, 0, 4000, 0, 500}));
    EXPECT_EQ(c.Load(nullptr), E_POINTER);
    EXPECT_EQ(c.Save(nullptr, TRUE), E_POINTER);
}

TEST(SerCfg, SaveAndLoadThroughTheDiskFileStream) {
    char dir[MAX_PATH], name[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    ASSERT_NE(GetTempFileNameA(dir, "hyd", 0, name), 0u);
    {
        CHyDiskFile f;
        ASSERT_NE(
            f.CreateFile(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
        CSerCfg out(38400, 3, 1, 4096, 256);
        out.m_settings.timeouts.ReadTotalTimeoutConstant = 250;
        ASSERT_EQ(out.Save(&f, TRUE), S_OK);
        LARGE_INTEGER zero{};
        ASSERT_EQ(f.Seek(zero, STREAM_SEEK_SET, nullptr), S_OK);
        CSerCfg in(0, 0, 0, 0, 0);
        ASSERT_EQ(in.Load(&f), S_OK);
        EXPECT_EQ(words(in), words(out));
    }
    DeleteFileA(name);
}

TEST(SerCfg, DirtyFlagFollowsClearDirty) {
    CSerCfg c(9600, 0, 0, 0, 0);
    MemStream m;
    c.m_fDirty = 1;
    EXPECT_EQ(c.Save(m.s, FALSE), S_OK);
    EXPECT_EQ(c.IsDirty(), S_OK);
    EXPECT_EQ(c.Save(m.s, TRUE), S_OK);
    EXPECT_EQ(c.IsDirty(), S_FALSE);
    EXPECT_EQ(c.Save(m.s, FALSE), S_OK);
    EXPECT_EQ(c.IsDirty(), S_FALSE);
}

TEST(SerCfg, SizeMaxAndClassId) {
    CSerCfg c(9600, 0, 0, 0, 0);
    ULARGE_INTEGER size;
    size.QuadPart = ~0ull;
    EXPECT_EQ(c.GetSizeMax(&size), S_OK);
    EXPECT_EQ(size.LowPart, 44u);
    EXPECT_EQ(size.HighPart, 0u);
    CLSID id{};
    EXPECT_EQ(c.GetClassID(&id), S_OK);
    EXPECT_EQ(id, hyd::IID_SerCfgSettings);
    EXPECT_NE(id, GUID_NULL);
    EXPECT_EQ(c.GetSizeMax(nullptr), E_POINTER);
    EXPECT_EQ(c.GetClassID(nullptr), E_POINTER);
}

TEST(SerCfg, QueryInterfaceAndReferenceCounting) {
    auto* c = new CSerCfg(9600, 0, 0, 0, 0);
    IPersistStream* face = c;
    for (REFIID iid : {IID_IUnknown, IID_IPersistStream, hyd::IID_SerCfgSettings}) {
        void* p = nullptr;
        ASSERT_EQ(c->QueryInterface(iid, &p), S_OK);
        EXPECT_EQ(p, static_cast<void*>(face));
    }
    EXPECT_EQ(c->m_cRef, 4);
    for (REFIID iid : {IID_IPersist, IID_IStream, IID_IPersistStorage, IID_IDispatch}) {
        void* p = reinterpret_cast<void*>(1);
        EXPECT_EQ(c->QueryInterface(iid, &p), E_NOINTERFACE);
        EXPECT_EQ(p, nullptr);
    }
    EXPECT_EQ(face->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(face->Release(), 3u);
    EXPECT_EQ(face->Release(), 2u);
    EXPECT_EQ(face->AddRef(), 3u);
    EXPECT_EQ(face->Release(), 2u);
    EXPECT_EQ(face->Release(), 1u);
    EXPECT_EQ(face->Release(), 0u); // deleted; a leak or double free shows under a checker
}

TEST(SerCfg, ApplyOnSomethingThatIsNoPortReportsTheWin32Error) {
    char dir[MAX_PATH], name[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    ASSERT_NE(GetTempFileNameA(dir, "hyd", 0, name), 0u);
    {
        CHyDiskFile f;
        ASSERT_NE(f.CreateFile(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
                  INVALID_HANDLE_VALUE);
        CSerCfg c(9600, 0, 0, 0, 0);
        const HRESULT hr = c.Apply(&f);
        EXPECT_TRUE(FAILED(hr));
        EXPECT_EQ(HRESULT_FACILITY(hr), FACILITY_WIN32) << std::hex << hr;
        EXPECT_EQ(c.Apply(nullptr), E_POINTER);
    }
    DeleteFileA(name);
}

} // namespace
