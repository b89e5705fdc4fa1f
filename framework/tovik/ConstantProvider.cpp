#include "framework/tovik/ConstantProvider.h"

ConstantProvider* ConstantProvider::instance = nullptr;

ConstantProvider* ConstantProvider::getInstance()
{
    if (!instance) instance = new ConstantProvider();
    return instance;
}

void ConstantProvider::Destroy()
{
    delete instance;
    instance = nullptr;
}

unsigned ConstantProvider::getEventTypeIdentifier(const std::string& name)
{
    auto it = ids.find(name);
    if (it != ids.end()) return it->second;
    names.push_back(name);
    const unsigned id = static_cast<unsigned>(names.size());
    ids.emplace(name, id);
    return id;
}

std::string ConstantProvider::getEventTypeName(unsigned id) const
{
    if (id == 0 || id > names.size()) return std::string();
    return names[id - 1];
}

unsigned ConstantProvider::findEventTypeIdentifier(const std::string& name) const
{
    auto it = ids.find(name);
    return it == ids.end() ? 0u : it->second;
}
