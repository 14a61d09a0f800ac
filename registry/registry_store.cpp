#include "registry/registry_store.h"

namespace kestro {

std::vector<std::string> SplitKeyPath(const std::string& path) {
    std::vector<std::string> names;
    std::string current;
    for (char c : path) {
        if (c == '\\') {
            if (!current.empty()) names.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) names.push_back(current);
    return names;
}

}  // namespace kestro
