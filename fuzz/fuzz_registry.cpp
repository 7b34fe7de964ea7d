// Fuzz target: arbitrary text as the component registry's store file. A text
// the parser accepts must serialise to a store that parses to the same tree
// (the writer never produces a file the reader refuses), and every key and
// value must respect the store's limits.
#include "registry/registry.h"

#include <cstdlib>
#include <span>
#include <string>

using namespace marquen::registry;

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckKey(const Key& key, size_t depth)
{
    Check(depth <= kMaxKeyDepth);
    for (const auto& [name, data] : key.Values()) {
        Check(name.size() <= kMaxValueNameLength);
        Check(data.size() <= kMaxValueLength);
    }
    for (const auto& child : key.Children()) {
        Check(IsValidKeyName(child->Name()));
        CheckKey(*child, depth + 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const char> text(reinterpret_cast<const char*>(data), size);
    Tree tree;
    std::string problem;
    if (!Parse(text, tree, problem)) {
        Check(!problem.empty());
        return 0;
    }
    CheckKey(tree.Root(), 0);

    const std::string written = Serialize(tree);
    Tree again;
    Check(Parse(written, again, problem));
    Check(Serialize(again) == written);
    return 0;
}
