// The registry-script interpreter against an in-memory registry: scripts using every marker,
// keyword and value type, in both modes, and every way a script is refused. The shipped script
// and Wine's registry behind it are the regsvr32 round trip's part (tests/com).
#include "server/registry_script.h"
#include "support/memory_registry.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

using namespace hyd;
using namespace hyd::regscript;

hresult run_script(memory_registry& reg, const std::string& text, mode m) {
    const std::pair<std::string, std::string> vars[] = {
        {"MODULE", quote_for_script("C:\\it's\\Hyd.dll")}};
    return run_text(text, vars, m, reg);
}

TEST(RegistryScript, RunsInBothModes) {
    // A class script's shape: its own key rebuilt, the shared CLSID key kept.
    const std::string cls = "HKCR { NoRemove CLSID { ForceRemove '{X}' = s 'c' { P = s '%MODULE%' "
                            "{ val T = s 'b' } } } }",
                      other = " HKCR { NoRemove CLSID { '{other}' } }";
    const mode reg = mode::register_keys, unreg = mode::unregister_keys;
    const struct {
        const char* name;
        std::string before, script;
        mode m;
        std::string after;
        hresult hr = s_ok;
        const char* refused = "";
    } rows[] = {
        {"registers every key and value", "", cls, reg,
         "CLSID CLSID\\{X} [=c] CLSID\\{X}\\P [=C:\\it's\\Hyd.dll] [T=b]"},
        {"unregistering removes what registering wrote", cls + other, cls, unreg,
         "CLSID CLSID\\{other}"},
        {"a key with subkeys left stays, values left do not keep one",
         cls + " HKCR { CLSID { '{X}' { Extra P { val O = s 'o' } } } }", cls, unreg,
         "CLSID CLSID\\{X} [=c] CLSID\\{X}\\Extra"},
        {"markers never delete CLSID or TypeLib",
         "HKCR { CLSID { keep } TypeLib { keep } Old { z } F { z } }",
         "HKCR { ForceRemove clsid { x } Delete TYPELIB { y } Delete Old { z } "
         "ForceRemove F = s 'new' }",
         reg, "CLSID CLSID\\keep CLSID\\x F [=new] TypeLib TypeLib\\keep"},
        {"markers do nothing when unregistering", "HKCR { F { child } G H }",
         "HKCR { ForceRemove F Delete G NoRemove H }", unreg, "F F\\child H"},
        {"listed values go, missing keys are skipped",
         "HKCR { NoRemove A { val v = s 'x' val w = s 'y' B = s 'z' { C } } }",
         "HKCR { NoRemove A { val v = s 'x' B { C } } Missing { val q = s '' D } }", unreg,
         "A [w=y]"},
        {"keywords, roots and types ignore case", "",
         "hkey_classes_root { noremove A { VAL x = S 'y' } FORCEREMOVE B = s '' delete C } "
         "hkcu { K } HKEY_LOCAL_MACHINE { L } HKU { U } HKPD { P } HKEY_DYN_DATA { D } HKCC { C }",
         reg, "A [x=y] B [=] HKCU:K HKLM:L HKU:U HKPD:P HKDD:D HKCC:C"},
        {"value types and quoting", "",
         "HKLM { NoRemove Software { ForceRemove 'Hyd Test' = s 'top' { val Count = d '0x10' "
         "val Neg = d -2 val Raw = b '00ff7E' val 'it''s' = s 'a''b' val Max = d 4294967295 "
         "val Min = d -2147483648 val X = d 0XfF val E = b '' Delete Old } } }",
         reg,
         "HKLM:Software HKLM:Software\\Hyd Test [=top] [Count=#16] [E=] [it's=a'b] "
         "[Max=#4294967295] [Min=#2147483648] [Neg=#4294967294] [Raw=00ff7e] [X=#255]"},
        {"unquoted braced names; val outside a key is a key name", "",
         "HKCR { NoRemove CLSID { ForceRemove {04FA-7D} = s 'g' { {a}b } } val x = s 'y' }", reg,
         "CLSID CLSID\\{04FA-7D} [=g] CLSID\\{04FA-7D}\\{a}b val x [=y]"},
        {"a key that cannot be created ends the run", "", "HKCR { A = s '1' B = s '2' C = s '3' }",
         reg, "A [=1]", disp_e_exception, "B"},
        {"a malformed script changes nothing", "", "HKCR { A = s '1' B { val x s 'y' } }", reg, "",
         disp_e_exception},
    };
    for (const auto& row : rows) {
        memory_registry r;
        ASSERT_EQ(run_script(r, row.before, mode::register_keys), s_ok) << row.name;
        r.refuse.insert(row.refused);
        EXPECT_EQ(run_script(r, row.script, row.m), row.hr) << row.name;
        EXPECT_EQ(r.dump(), row.after) << row.name;
        EXPECT_EQ(r.open_handles, 0) << row.name;
    }
}

std::string nested(int depth) {
    std::string text = "HKCR {";
    for (int i = 0; i < depth; ++i) text += " k {";
    return text + std::string(static_cast<std::size_t>(depth) + 1, '}');
}

TEST(RegistryScript, RefusesMalformedScripts) {
    std::vector<std::string> texts{nested(65), nested(10000)};
    std::istringstream list(
        "HKCR { 'a\\b' }|HKCR { a { b\\c } }|HKCR { a { val x s 'y' } }|HKCR { a { val } }|"
        "HKCR a|HKCR { a { val = s 'y' } }|HKCR { a = s 'open }|HKCR { a { b }|HKXX { a }|"
        "HKCR { = s 'x' }|HKCR { a = q 'x' }|HKCR { a = s } }|HKCR { a = 's' 'x' }|"
        "HKCR { a { val n = d '4294967296' } }|HKCR { a { val n = d -2147483649 } }|"
        "HKCR { a { val n = d '12ab' } }|HKCR { '' }|HKCR { { }|HKCR { a { val n = d 0x } }|"
        "HKCR { a { val n = b 'abc' } }|HKCR { a { val n = b 'zz' } }|HKCR { NoRemove }|"
        "HKCR { NoRemove { } }|HKCR { a = s 'x' = s 'y' }");
    for (std::string text; std::getline(list, text, '|');) texts.push_back(text);
    for (const std::string& text : texts) {
        script s;
        s.roots.resize(1);
        std::string why;
        EXPECT_EQ(parse(text, s, &why), disp_e_exception) << text;
        EXPECT_NE(why, "") << text;
        EXPECT_TRUE(s.roots.empty()) << text;
        memory_registry r;
        EXPECT_EQ(run_script(r, text, mode::unregister_keys), disp_e_exception) << text;
    }
    script s;
    EXPECT_EQ(parse(nested(64), s), s_ok);
    EXPECT_EQ(parse("", s), s_ok);
}

TEST(RegistryScript, ExpandsVariablesAndQuotesPaths) {
    const std::pair<std::string, std::string> vars[] = {{"MODULE", "C:\\a b\\Hyd.dll"}, {"N", "1"}};
    const std::tuple<const char*, hresult, const char*> rows[] = {
        {"x '%MODULE%' 100%% %module%%n%", s_ok, "x 'C:\\a b\\Hyd.dll' 100% C:\\a b\\Hyd.dll1"},
        {"", s_ok, ""},
        {"%%%%", s_ok, "%%"},
        {"%OTHER%", disp_e_exception, ""},
        {"50% off", disp_e_exception, ""},
        {"%MODULE", disp_e_exception, ""}};
    for (const auto& [text, hr, expanded] : rows) {
        std::string out = "stale";
        EXPECT_EQ(expand(text, vars, out), hr) << text;
        EXPECT_TRUE(failed(hr) || out == expanded) << text;
    }
    EXPECT_EQ(quote_for_script("C:\\it's\\o''k'"), "C:\\it''s\\o''''k''");
}

} // namespace
