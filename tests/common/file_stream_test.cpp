// The file streams: what the reader and the tools rely on over real files.
#include "common/file_stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace hyd {
namespace {

std::string temp_path(const char* name) {
    return (std::filesystem::temp_directory_path() / name).string();
}

TEST(FileStream, WritesReadsAndKnowsWhereItIs) {
    const std::string path = temp_path("hyd_file_stream_test.bin");
    {
        file_writer out;
        ASSERT_TRUE(out.open(path));
        std::uint32_t done = 0;
        EXPECT_EQ(out.write("abcdef", 6, &done), s_ok);
        EXPECT_EQ(done, 6u);
    }
    file_reader in;
    ASSERT_TRUE(in.open(path));
    std::uint64_t size = 0, where = 99;
    EXPECT_EQ(in.size(&size), s_ok);
    EXPECT_EQ(size, 6u);

    char c = 0;
    std::uint32_t done = 0;
    ASSERT_EQ(in.read(&c, 1, &done), s_ok);
    // Asking for the position between reads must neither move nor disturb them.
    EXPECT_EQ(in.seek(0, seek_origin::cur, &where), s_ok);
    EXPECT_EQ(where, 1u);
    ASSERT_EQ(in.read(&c, 1, &done), s_ok);
    EXPECT_EQ(c, 'b');

    struct {
        std::int64_t move;
        seek_origin origin;
        std::uint64_t expected;
        char next;
    } rows[] = {{4, seek_origin::set, 4, 'e'},
                {-3, seek_origin::cur, 2, 'c'},
                {-1, seek_origin::end, 5, 'f'}};
    for (const auto& r : rows) {
        EXPECT_EQ(in.seek(r.move, r.origin, &where), s_ok);
        EXPECT_EQ(where, r.expected);
        ASSERT_EQ(in.read(&c, 1, &done), s_ok);
        EXPECT_EQ(c, r.next);
    }
    // What is buffered is lent from the position on; skipping over it is reading it.
    ASSERT_EQ(in.seek(2, seek_origin::set, nullptr), s_ok);
    const auto lent = in.lend();
    EXPECT_EQ(std::string(lent.begin(), lent.end()), "cdef");
    in.skip(3);
    EXPECT_EQ(in.seek(0, seek_origin::cur, &where), s_ok);
    EXPECT_EQ(where, 5u);
    char rest[8];
    EXPECT_EQ(in.read(rest, 8, &done), s_ok);
    EXPECT_EQ(done, 1u);
    EXPECT_TRUE(in.lend().empty());
    EXPECT_EQ(in.read(rest, 8, &done), s_ok); // at the end: success, nothing delivered
    EXPECT_EQ(done, 0u);
    in.close();
    std::remove(path.c_str());
}

TEST(FileStream, ClosedStreamAndMissingFile) {
    file_reader s;
    EXPECT_FALSE(s.open(temp_path("hyd_no_such_dir/x.bin")));
    std::uint32_t done = 0;
    std::uint64_t size = 0;
    char c;
    EXPECT_EQ(s.read(&c, 1, &done), e_fail);
    EXPECT_EQ(s.write(&c, 1, &done), e_fail);
    EXPECT_EQ(s.seek(0, seek_origin::set, nullptr), e_fail);
    EXPECT_EQ(s.size(&size), e_fail);
}

} // namespace
} // namespace hyd
