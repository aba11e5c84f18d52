// Seeds for the registry-script interpreter: scripts that use every marker, keyword, value type
// and quoting rule, plus broken ones.
#include <cstdint>
#include <string>
#include <vector>

std::vector<std::vector<std::uint8_t>> make_seeds() {
    std::vector<std::vector<std::uint8_t>> seeds;
    for (const std::string s :
         {"HKCR { 'Hyd.1' = s 'HYD' { CLSID = s '{X}' } NoRemove CLSID { ForceRemove '{X}' = s 'H' "
          "{ InprocServer32 = s '%MODULE%' { val ThreadingModel = s 'both' } } } }",
          "HKLM { NoRemove S { ForceRemove 'T' = s 'it''s' { val C = d '0x10' val N = d -2 val R = "
          "b '00ff7E' Delete Old } } } hkey_current_user { noremove a { VAL x = S 'y' } } HKCC { }",
          "HKCR { NoRemove CLSID { ForceRemove clsid { x } } Delete TYPELIB { y } }",
          "HKCR { 'a\\b' }", "HKCR { a { val x s 'y' } }", "HKCR { a = s '100%% of %MODULE%' }"})
        seeds.emplace_back(s.begin(), s.end());
    return seeds;
}
