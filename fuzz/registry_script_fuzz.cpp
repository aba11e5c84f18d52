// Arbitrary text through the registry-script interpreter: %MODULE% expansion, parsing, then both
// modes against an in-memory registry. Every opened key must be closed again, whatever happened.
#include "server/registry_script.h"
#include "support/memory_registry.h"

#include <cstdlib>

using namespace hyd::regscript;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::pair<std::string, std::string> vars[] = {
        {"MODULE", quote_for_script("C:\\it's\\Hyd.dll")}};
    memory_registry reg;
    const hyd::hresult first = run_text(text, vars, mode::register_keys, reg);
    run_text(text, vars, mode::register_keys, reg);
    const hyd::hresult undone = run_text(text, vars, mode::unregister_keys, reg);
    if (reg.open_handles != 0) std::abort();
    // Parsing decides both runs alike: a script that cannot be parsed fails in every mode.
    script s;
    std::string expanded;
    const bool refused =
        hyd::failed(expand(text, vars, expanded)) || hyd::failed(parse(expanded, s));
    if (refused && (first != disp_e_exception || undone != disp_e_exception)) std::abort();
    return 0;
}
