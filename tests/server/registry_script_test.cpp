// The registry-script interpreter against an in-memory registry: parsing, both modes, and every
// way a script run ends in DISP_E_EXCEPTION. The Windows registry behind it is tested under Wine
// in tests/com.
#include "server/registry_script.h"
#include "support/memory_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace {

using namespace hyd;
using namespace hyd::regscript;

const char* const class_script = R"(HKCR
{
	'Hyd.DiVORorazivo.1' = s 'HYD Sonic Ensemble'
	{
		CLSID = s '{04FAE772-7D9A-4DA3-8A01-155EFDB6535D}'
	}
	NoRemove CLSID
	{
		ForceRemove '{04FAE772-7D9A-4DA3-8A01-155EFDB6535D}' = s 'HYD Sonic Ensemble'
		{
			ProgID = s 'Hyd.DiVORorazivo.1'
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'both'
			}
		}
	}
})";
const std::string class_key = "CLSID\\{04FAE772-7D9A-4DA3-8A01-155EFDB6535D}";

hresult run_class_script(memory_registry& reg, mode m, const std::string& module) {
    const std::pair<std::string, std::string> vars[] = {{"MODULE", quote_for_script(module)}};
    return run_text(class_script, vars, m, reg);
}

TEST(RegistryScriptParse, ReadsKeysMarkersAndValues) {
    script s;
    ASSERT_EQ(parse(R"(HKLM { NoRemove Software { ForceRemove 'Hyd Test' = s 'top'
                 { val Count = d '0x10' val Neg = d -2 val Raw = b '00ff7E' val 'it''s' = s 'a''b'
                   Delete Old } } })",
                    s),
              s_ok);
    ASSERT_EQ(s.roots.size(), 1u);
    EXPECT_EQ(s.roots[0].which, root_key::local_machine);
    const key& software = s.roots[0].keys.at(0);
    EXPECT_EQ(software.mark, marker::no_remove);
    EXPECT_FALSE(software.default_value);
    const key& test = software.subkeys.at(0);
    EXPECT_EQ(test.mark, marker::force_remove);
    EXPECT_EQ(test.name, "Hyd Test");
    ASSERT_TRUE(test.default_value);
    EXPECT_EQ(test.default_value->text, "top");
    ASSERT_EQ(test.values.size(), 4u);
    EXPECT_EQ(test.values[0].type, value_type::dword);
    EXPECT_EQ(test.values[0].number, 16u);
    EXPECT_EQ(test.values[1].number, 0xFFFFFFFEu);
    EXPECT_EQ(test.values[2].bytes, (std::vector<std::uint8_t>{0x00, 0xFF, 0x7E}));
    EXPECT_EQ(test.values[3].name, "it's");
    EXPECT_EQ(test.values[3].text, "a'b");
    ASSERT_EQ(test.subkeys.size(), 1u);
    EXPECT_EQ(test.subkeys[0].mark, marker::remove);
    EXPECT_EQ(test.subkeys[0].name, "Old");
}

TEST(RegistryScriptParse, KeywordsRootsAndTypesIgnoreCase) {
    script s;
    ASSERT_EQ(parse("hkey_classes_root { noremove A { VAL x = S 'y' } FORCEREMOVE B = s '' "
                    "delete C } hkcu { } HKU { } HKPD { } HKDD { } HKCC { }",
                    s),
              s_ok);
    ASSERT_EQ(s.roots.size(), 6u);
    EXPECT_EQ(s.roots[0].which, root_key::classes_root);
    EXPECT_EQ(s.roots[5].which, root_key::current_config);
    const auto& keys = s.roots[0].keys;
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[0].mark, marker::no_remove);
    EXPECT_EQ(keys[0].values.at(0).text, "y");
    EXPECT_EQ(keys[1].mark, marker::force_remove);
    EXPECT_EQ(keys[2].mark, marker::remove);
}

TEST(RegistryScriptParse, MalformedScriptsAreRefused) {
    const struct {
        const char* what;
        const char* text;
    } cases[] = {
        {"backslash in a key name", "HKCR { 'a\\b' }"},
        {"backslash in a bare key name", "HKCR { a { b\\c } }"},
        {"val without equals sign", "HKCR { a { val x s 'y' } }"},
        {"val without a name", "HKCR { a { val } }"},
        {"unterminated quote", "HKCR { a = s 'open }"},
        {"missing closing brace", "HKCR { a { b }"},
        {"no opening brace", "HKCR a"},
        {"unknown root", "HKXX { a }"},
        {"unknown value type", "HKCR { a = q 'x' }"},
        {"missing value", "HKCR { a = s }"},
        {"number too large", "HKCR { a { val n = d '4294967296' } }"},
        {"not a number", "HKCR { a { val n = d '12ab' } }"},
        {"odd byte string", "HKCR { a { val n = b 'abc' } }"},
        {"not hex", "HKCR { a { val n = b 'zz' } }"},
        {"marker without a name", "HKCR { NoRemove }"},
        {"empty key name", "HKCR { '' }"},
        {"stray equals sign", "HKCR { = s 'x' }"},
    };
    for (const auto& c : cases) {
        script s;
        std::string why;
        EXPECT_EQ(parse(c.text, s, &why), disp_e_exception) << c.what;
        EXPECT_FALSE(why.empty()) << c.what;
        EXPECT_TRUE(s.roots.empty()) << c.what;
    }
}

TEST(RegistryScriptParse, DeepNestingIsRefusedWithoutCrashing) {
    std::string text = "HKCR {";
    for (int i = 0; i < 10000; ++i) text += " k {";
    script s;
    EXPECT_EQ(parse(text, s), disp_e_exception);
}

TEST(RegistryScriptExpand, ReplacesVariables) {
    const std::pair<std::string, std::string> vars[] = {{"MODULE", "C:\\a b\\Hyd.dll"}};
    std::string out;
    EXPECT_EQ(expand("x '%MODULE%' 100%% %module%", vars, out), s_ok);
    EXPECT_EQ(out, "x 'C:\\a b\\Hyd.dll' 100% C:\\a b\\Hyd.dll");
    EXPECT_EQ(expand("%OTHER%", vars, out), disp_e_exception);
    EXPECT_EQ(expand("50% off", vars, out), disp_e_exception);
    EXPECT_EQ(quote_for_script("C:\\it's\\o''k"), "C:\\it''s\\o''''k");
}

TEST(RegistryScriptRun, RegisterWritesEveryKeyAndValue) {
    memory_registry reg;
    ASSERT_EQ(run_class_script(reg, mode::register_keys, "C:\\Program Files\\Hyd.dll"), s_ok);
    EXPECT_EQ(reg.text("Hyd.DiVORorazivo.1"), "HYD Sonic Ensemble");
    EXPECT_EQ(reg.text("Hyd.DiVORorazivo.1\\CLSID"), "{04FAE772-7D9A-4DA3-8A01-155EFDB6535D}");
    EXPECT_EQ(reg.text(class_key), "HYD Sonic Ensemble");
    EXPECT_EQ(reg.text(class_key + "\\ProgID"), "Hyd.DiVORorazivo.1");
    EXPECT_EQ(reg.text(class_key + "\\InprocServer32"), "C:\\Program Files\\Hyd.dll");
    EXPECT_EQ(reg.text(class_key + "\\InprocServer32", "ThreadingModel"), "both");
    EXPECT_EQ(reg.open_handles, 0);
}

TEST(RegistryScriptRun, ModulePathWithQuotesIsWrittenIntact) {
    memory_registry reg;
    ASSERT_EQ(run_class_script(reg, mode::register_keys, "C:\\it's here\\''\\Hyd.dll"), s_ok);
    EXPECT_EQ(reg.text(class_key + "\\InprocServer32"), "C:\\it's here\\''\\Hyd.dll");
}

TEST(RegistryScriptRun, ForceRemoveRebuildsTheKeyOnEveryRegistration) {
    memory_registry reg;
    ASSERT_EQ(run_class_script(reg, mode::register_keys, "C:\\one.dll"), s_ok);
    // Something stale under the class key, and a neighbour under CLSID.
    reg.find(class_key)->children["Stale"] = std::make_unique<node>();
    reg.find("CLSID")->children["{other}"] = std::make_unique<node>();
    ASSERT_EQ(run_class_script(reg, mode::register_keys, "C:\\two.dll"), s_ok);
    EXPECT_EQ(reg.find(class_key + "\\Stale"), nullptr);
    EXPECT_EQ(reg.find(class_key)->children.size(), 2u);
    EXPECT_EQ(reg.text(class_key + "\\InprocServer32"), "C:\\two.dll");
    EXPECT_NE(reg.find("CLSID\\{other}"), nullptr);
}

TEST(RegistryScriptRun, MarkersNeverDeleteClsidOrTypelib) {
    memory_registry reg;
    reg.roots[0].children["CLSID"] = std::make_unique<node>();
    reg.find("CLSID")->children["keep"] = std::make_unique<node>();
    reg.roots[0].children["TypeLib"] = std::make_unique<node>();
    reg.find("TypeLib")->children["keep"] = std::make_unique<node>();
    reg.roots[0].children["Old"] = std::make_unique<node>();
    reg.find("Old")->children["child"] = std::make_unique<node>();
    ASSERT_EQ(run_text("HKCR { ForceRemove clsid { x } Delete TYPELIB { y } Delete Old { z } }", {},
                       mode::register_keys, reg),
              s_ok);
    EXPECT_NE(reg.find("CLSID\\keep"), nullptr);
    EXPECT_NE(reg.find("CLSID\\x"), nullptr);
    EXPECT_NE(reg.find("TypeLib\\keep"), nullptr);
    EXPECT_EQ(reg.find("TypeLib\\y"), nullptr); // a Delete block is skipped
    EXPECT_EQ(reg.find("Old"), nullptr);
    EXPECT_EQ(reg.find("Old\\z"), nullptr);
}

TEST(RegistryScriptRun, UnregisterRemovesWhatTheScriptWrote) {
    memory_registry reg;
    ASSERT_EQ(run_class_script(reg, mode::register_keys, "C:\\Hyd.dll"), s_ok);
    reg.find("CLSID")->children["{other}"] = std::make_unique<node>();
    ASSERT_EQ(run_class_script(reg, mode::unregister_keys, "C:\\Hyd.dll"), s_ok);
    EXPECT_EQ(reg.find("Hyd.DiVORorazivo.1"), nullptr);
    EXPECT_EQ(reg.find(class_key), nullptr);
    EXPECT_NE(reg.find("CLSID"), nullptr); // NoRemove
    EXPECT_NE(reg.find("CLSID\\{other}"), nullptr);
    EXPECT_EQ(reg.open_handles, 0);
}

TEST(RegistryScriptRun, UnregisterKeepsKeysThatStillHaveSubkeys) {
    memory_registry reg;
    ASSERT_EQ(run_class_script(reg, mode::register_keys, "C:\\Hyd.dll"), s_ok);
    reg.find(class_key)->children["Implemented Categories"] = std::make_unique<node>();
    reg.find(class_key + "\\InprocServer32")->values["Other"].name = "Other";
    ASSERT_EQ(run_class_script(reg, mode::unregister_keys, "C:\\Hyd.dll"), s_ok);
    node* kept = reg.find(class_key);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->children.size(), 1u);
    EXPECT_NE(reg.find(class_key + "\\Implemented Categories"), nullptr);
    // A key whose subkeys are gone goes even with values left in it.
    EXPECT_EQ(reg.find(class_key + "\\InprocServer32"), nullptr);
}

TEST(RegistryScriptRun, UnregisterDeletesListedValuesAndSkipsMissingKeys) {
    memory_registry reg;
    ASSERT_EQ(run_text("HKCR { NoRemove A { val v = s 'x' val w = s 'y' B = s 'z' } }", {},
                       mode::register_keys, reg),
              s_ok);
    reg.find("A\\B")->children["C"] = std::make_unique<node>();
    ASSERT_EQ(run_text("HKCR { NoRemove A { val v = s 'x' B { C } } Missing { val q = s '' D } }",
                       {}, mode::unregister_keys, reg),
              s_ok);
    ASSERT_NE(reg.find("A"), nullptr);
    EXPECT_EQ(reg.find("A")->values.count("v"), 0u);
    EXPECT_EQ(reg.find("A")->values.count("w"), 1u);
    EXPECT_EQ(reg.find("A\\B"), nullptr);
    EXPECT_EQ(reg.find("Missing"), nullptr);
}

TEST(RegistryScriptRun, MarkersHaveNoEffectWhenUnregistering) {
    memory_registry reg;
    reg.roots[0].children["F"] = std::make_unique<node>();
    reg.find("F")->children["child"] = std::make_unique<node>();
    ASSERT_EQ(run_text("HKCR { ForceRemove F Delete G }", {}, mode::unregister_keys, reg), s_ok);
    EXPECT_NE(reg.find("F\\child"), nullptr);
}

TEST(RegistryScriptRun, AKeyThatCannotBeCreatedEndsTheRun) {
    memory_registry reg;
    reg.refuse.insert("B");
    EXPECT_EQ(run_text("HKCR { A = s '1' B = s '2' C = s '3' }", {}, mode::register_keys, reg),
              disp_e_exception);
    EXPECT_NE(reg.find("A"), nullptr);
    EXPECT_EQ(reg.find("C"), nullptr);
    EXPECT_EQ(reg.open_handles, 0);
}

TEST(RegistryScriptRun, MalformedScriptChangesNothing) {
    memory_registry reg;
    EXPECT_EQ(run_text("HKCR { A = s '1' B { val x s 'y' } }", {}, mode::register_keys, reg),
              disp_e_exception);
    EXPECT_EQ(reg.find("A"), nullptr);
}

} // namespace
