#pragma once
// TechniqueRegistry: every technique the process offers, in a fixed order:
// the library's own (geometry/TechniqueList.h: density, cylinder, ...), then
// those of the shared objects named by the TRELLAN_TECHNIQUES environment
// variable (folders and .so files, separated by ':'; each .so of a folder in
// file-name order), loaded on the first Instance().
//
// A shared object exports one function,
//     extern "C" void trellan_register_techniques(TechniqueRegistry& registry);
// which calls registry.Add once per technique it brings. It links the
// engine (libtrellan), so it shares the process's dataset, density grid and
// study framework.
//
// In: nothing. Out: the techniques by name. Cost: one dlopen per shared
// object, once.
#include "geometry/Technique.h"

#include <memory>
#include <string>
#include <vector>

class TechniqueRegistry {
public:
    static TechniqueRegistry& Instance();

    // Throws std::invalid_argument for a duplicate or malformed name (not one
    // lower-case word of letters, digits and '-').
    void Add(std::unique_ptr<Technique> technique);
    // Null when no technique has that name.
    const Technique* Find(const std::string& name) const;
    const std::vector<std::unique_ptr<Technique>>& All() const { return techniques; }
    // The registered names separated by ", " (for messages).
    std::string Names() const;
    // Loads the shared objects of one TRELLAN_TECHNIQUES entry; each problem
    // (a file that does not load, lacks the function or adds a duplicate)
    // is one line in Problems() and on standard error.
    void LoadFrom(const std::string& entry);
    const std::vector<std::string>& Problems() const { return problems; }

private:
    TechniqueRegistry() = default;
    std::vector<std::unique_ptr<Technique>> techniques;
    std::vector<std::string> problems;
};

extern "C" {
// What a technique shared object exports.
typedef void (*TrellanRegisterTechniques)(TechniqueRegistry& registry);
}
