#pragma once
// ConstantProvider: hands out numeric identifiers for event-type names. The
// first name asked for gets 1, the next new name 2, and so on; asking again
// for a known name returns its identifier. 0 is never handed out, so it can
// stand for "no type". The reverse lookup serves the event dispatch.
#include <map>
#include <string>
#include <vector>

class ConstantProvider {
public:
    static ConstantProvider* getInstance();
    static void Destroy();

    unsigned getEventTypeIdentifier(const std::string& name);
    // Name of a handed-out identifier; empty for one never handed out.
    std::string getEventTypeName(unsigned id) const;
    // Identifier of a name without registering it; 0 when unknown.
    unsigned findEventTypeIdentifier(const std::string& name) const;

private:
    ConstantProvider() = default;
    static ConstantProvider* instance;
    std::map<std::string, unsigned> ids;
    std::vector<std::string> names; // names[id - 1]
};
