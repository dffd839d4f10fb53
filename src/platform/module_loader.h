#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace nagisora {

struct ModuleCloser {
    void operator()(void* handle) const;
};
// A loaded module, closed when the handle goes.
using ModuleHandle = std::unique_ptr<void, ModuleCloser>;

// Where a module of the program is looked for: beside the program (a build tree), then in the install's
// module folder, given relative to the program's folder.
std::vector<std::string> ModuleCandidates(std::string_view fileName, std::string_view installDir);

// The first candidate that loads, or none, with every loader error joined into `errors`. The libraries a
// module brings (Qt, FluidSynth, aubio) stay mapped after its close: unloading them again is not worth its
// risk.
ModuleHandle OpenModule(std::span<const std::string> candidates, std::string& errors);

} // namespace nagisora
