// Seeds for the registry-script interpreter: the class's own script and scripts that use every
// marker, keyword, value type and quoting rule, plus a few broken ones.
#include <cstdint>
#include <string>
#include <vector>

std::vector<std::vector<std::uint8_t>> make_seeds() {
    const char* const scripts[] = {
        R"(HKCR
{
	'Hyd.DiVORorazivo.1' = s 'HYD Sonic Ensemble'
	{
		CLSID = s '{04FAE772-7D9A-4DA3-8A01-155EFDB6535D}'
	}
	'Hyd.DiVORorazivo' = s 'HYD Sonic Ensemble'
	{
		CLSID = s '{04FAE772-7D9A-4DA3-8A01-155EFDB6535D}'
	}
	NoRemove CLSID
	{
		ForceRemove '{04FAE772-7D9A-4DA3-8A01-155EFDB6535D}' = s 'HYD Sonic Ensemble'
		{
			ProgID = s 'Hyd.DiVORorazivo.1'
			FileExtension = s 'sne'
			VersionIndependentProgID = s 'Hyd.DiVORorazivo'
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'both'
			}
		}
	}
})",
        // One literal per seed, or clang sees an accidental concatenation.
        // clang-format off
        "HKLM { NoRemove Software { ForceRemove 'Hyd Test' = s 'it''s' { val Count = d '0x10' val Neg = d -2 val Raw = b '00ff7E' Delete Old } } }",
        // clang-format on
        "hkey_current_user { noremove a { VAL x = S 'y' } FORCEREMOVE b = s '' delete c } HKCC { }",
        "HKCR { NoRemove CLSID { ForceRemove clsid { x } } Delete TYPELIB { y } }",
        "HKCR { 'a\\b' }",
        "HKCR { a { val x s 'y' } }",
        "HKCR { a = s 'open }",
        "HKCR { a { b } ",
        "HKCR { a = s '100%% of %MODULE%' }",
    };
    std::vector<std::vector<std::uint8_t>> seeds;
    for (const char* s : scripts) {
        const std::string text(s);
        seeds.emplace_back(text.begin(), text.end());
    }
    return seeds;
}
