#include "geometry/TechniqueRegistry.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

#define TECHNIQUE(X) std::unique_ptr<Technique> Make##X##Technique();
#include "geometry/TechniqueList.h"
#undef TECHNIQUE

namespace {

bool WellFormedName(const std::string& name)
{
    if (name.empty()) return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return false;
    return true;
}

bool EndsWith(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

TechniqueRegistry& TechniqueRegistry::Instance()
{
    static TechniqueRegistry* registry = [] {
        TechniqueRegistry* r = new TechniqueRegistry();  // lives as long as the shared objects' code
#define TECHNIQUE(X) r->Add(Make##X##Technique());
#include "geometry/TechniqueList.h"
#undef TECHNIQUE
        if (const char* path = std::getenv("TRELLAN_TECHNIQUES")) {
            std::stringstream entries(path);
            std::string entry;
            while (std::getline(entries, entry, ':'))
                if (!entry.empty()) r->LoadFrom(entry);
        }
        return r;
    }();
    return *registry;
}

void TechniqueRegistry::Add(std::unique_ptr<Technique> technique)
{
    if (!technique) throw std::invalid_argument("no technique given");
    const std::string name = technique->Name();
    if (!WellFormedName(name))
        throw std::invalid_argument("technique name \"" + name + "\" is not one lower-case word");
    if (Find(name)) throw std::invalid_argument("technique \"" + name + "\" is registered twice");
    techniques.push_back(std::move(technique));
}

const Technique* TechniqueRegistry::Find(const std::string& name) const
{
    for (const std::unique_ptr<Technique>& t : techniques)
        if (t->Name() == name) return t.get();
    return nullptr;
}

std::string TechniqueRegistry::Names() const
{
    std::string names;
    for (const std::unique_ptr<Technique>& t : techniques) names += (names.empty() ? "" : ", ") + t->Name();
    return names;
}

void TechniqueRegistry::LoadFrom(const std::string& entry)
{
    const size_t known = problems.size();
    std::vector<std::string> files;
    struct stat st {};
    if (stat(entry.c_str(), &st) != 0) {
        problems.push_back("TRELLAN_TECHNIQUES: " + entry + " does not exist");
    } else if (S_ISDIR(st.st_mode)) {
        if (DIR* dir = opendir(entry.c_str())) {
            while (const dirent* e = readdir(dir))
                if (EndsWith(e->d_name, ".so")) files.push_back(entry + "/" + e->d_name);
            closedir(dir);
        }
        std::sort(files.begin(), files.end());
    } else {
        files.push_back(entry);
    }
    for (const std::string& file : files) {
        // RTLD_NODELETE: the techniques' code must outlive any handle.
        void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (!handle) {
            const char* why = dlerror();
            problems.push_back("TRELLAN_TECHNIQUES: " + file + " does not load: " + (why ? why : "unknown"));
            continue;
        }
        auto reg = reinterpret_cast<TrellanRegisterTechniques>(dlsym(handle, "trellan_register_techniques"));
        if (!reg) {
            problems.push_back("TRELLAN_TECHNIQUES: " + file + " exports no trellan_register_techniques");
            continue;
        }
        try {
            reg(*this);
        } catch (const std::exception& e) {
            problems.push_back("TRELLAN_TECHNIQUES: " + file + ": " + e.what());
        }
    }
    for (size_t i = known; i < problems.size(); ++i) std::fprintf(stderr, "%s\n", problems[i].c_str());
}
