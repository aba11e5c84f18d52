// The dialogue rules that need no instrument: reply end and success, the mode a reply leaves, and
// command-file lines.
#include "hylib/cmd_set.h"
#include "hylib/interpreter.h"
#include "support/fault_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hyd {
namespace {

// A command whose reply is set by hand, as Execute would have collected it.
template <class Command> struct judged : Command {
    judged(const std::string& reply, auto... made_with) : Command(made_with...) {
        this->m_reply = reply;
    }
};

struct reply_case {
    const char* command;
    std::string reply;
    bool complete;
    std::string kept; // the reply afterwards
};

TEST(interpreter, reply_is_complete_at_the_command_s_end_or_past_512_bytes) {
    const reply_case cases[] = {
        {"cs", "CS\r\n", true, "CS"},
        {"CS", "CS\r\n>", false, "CS\r\n>"},
        {"XX", "CS\r\n", false, "CS\r\n"},
        {"c", "c\r\n", false, "c\r\n"},
        {"N/A", "\r\nHY I\r\n>", true, "\r\nHY I"},
        {"cZ", "CZ\r\n[POWERING DOWN .....]\r\n", true, "CZ\r\n[POWER"},
        {"CZ", "CZ\r\n>", false, "CZ\r\n>"},
        {"AB", "\r\n>", true, ""},
        {"AB", "\n>", false, "\n>"},
        {"AB", std::string(512, 'x'), false, std::string(512, 'x')},
        {"AB", std::string(513, 'x'), true, std::string(513, 'x')},
    };
    CSNCmdInterpreter rules;
    for (const auto& c : cases) {
        CHyCmd command(c.command, &rules);
        std::string reply = c.reply;
        EXPECT_EQ(rules.IsReplyComplete(reply, mode_text, &command), c.complete) << c.command;
        EXPECT_EQ(reply, c.kept) << c.command;
    }
}

TEST(interpreter, reply_is_ok_with_the_echo_and_without_err) {
    const struct {
        const char* command;
        const char* reply;
        bool ok;
    } cases[] = {
        {"ab1", "AB1\r\n", true},
        {"AB1", "AB2\r\n", false},
        {"AB1", "AB", false},
        {"AB1", "AB1\r\nERR bad", false},
        {"AB1", "AB1\r\nerr is fine", true},
        {"ERRX", "ERRX", false},
        {"ax", "AX\r\nERR\r\n  >>> Total error: 1 <<<", true},
        {"AX", "AX\r\nNo result", false},
    };
    CSNCmdInterpreter rules;
    for (const auto& c : cases) {
        judged<CHyCmd> command(c.reply, c.command, &rules);
        EXPECT_EQ(rules.IsReplyOk(&command, mode_text), c.ok) << c.command << " / " << c.reply;
    }
}

TEST(commands, mode_follows_the_first_reply_byte_or_the_banner_s_last) {
    CSNCmdInterpreter rules;
    const struct {
        std::string reply;
        hresult result;
        long plain, wake; // the mode after a plain command and after a break
    } cases[] = {{"", e_fail, 7, 7},       {"\x06\r\nOK", s_ok, 1, 0}, {"\025ERR", s_ok, 1, 0},
                 {"HY I\x06", s_ok, 0, 1}, {"HY I\x15", s_ok, 0, 1},   {"CS", s_ok, 0, 0}};
    for (const auto& c : cases) {
        judged<CHyCmd> plain(c.reply, "AB", &rules);
        judged<CHyBrkCmd> wake(c.reply, &rules, 1);
        long mode = 7, after_wake = 7;
        EXPECT_EQ(plain.GetMode(&mode), c.result);
        EXPECT_EQ(wake.GetMode(&after_wake), c.result);
        EXPECT_EQ(mode, c.plain) << c.reply;
        EXPECT_EQ(after_wake, c.wake) << c.reply;
    }
}

struct file_case {
    const char* name;
    std::string bytes;
    std::vector<std::string> commands;
    int short_read_at = 0;
};

TEST(command_file, lines_become_commands_byte_for_byte) {
    const std::string long_line(4094, 'a'); // the first read stops short, at the CR
    const file_case cases[] = {
        {"skipped", "; c\r\n  ;x\r\n$y\r\n\r\n", {}},
        {"kept",
         "   \r\n \t$z\r\n CS 1\r\nAB\rCD\nEF\r\n",
         {"   ", " \t$z", " CS 1", "AB\rCD\nEF"}},
        {"unterminated_last", "AB\r\nCD\r", {"AB"}},
        {"lf_only", "AB\nCD\n", {}},
        {"crlf_across_reads", long_line + "\r\nB\r\n", {long_line, "B"}, 1},
    };
    CSNCmdInterpreter rules;
    for (const auto& c : cases) {
        fault_stream file(std::vector<std::uint8_t>(c.bytes.begin(), c.bytes.end()));
        file.short_read = c.short_read_at;
        CHyCmdSet set(&rules);
        EXPECT_EQ(set.LoadFile(file), s_ok) << c.name;
        std::vector<std::string> got;
        for (const auto& command : set.commands()) got.push_back(command->command());
        EXPECT_EQ(got, c.commands) << c.name;
    }
    fault_stream broken(std::vector<std::uint8_t>(5000, 'a'));
    broken.failed_read = 2;
    CHyCmdSet set(&rules);
    EXPECT_EQ(set.LoadFile(broken), HY_E_IO);
}

} // namespace
} // namespace hyd
