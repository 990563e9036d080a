#include "server/request_rules.h"

#include <stddef.h>
#include <string.h>

namespace {

// ".." and what Windows may trim to it (trailing dots and spaces).
bool IsParentComponent(const char* component, size_t length) {
    size_t dots = 0;
    for (size_t i = 0; i < length; ++i) {
        if (component[i] == '.')
            ++dots;
        else if (component[i] != ' ')
            return false;
    }
    return dots >= 2;
}

}  // namespace

bool IsCacheSafeName(const char* name) {
    if (!name || !*name || name[0] == '/') return false;
    if (strchr(name, '\\') || strchr(name, ':')) return false;
    const char* component = name;
    for (;;) {
        const char* slash = strchr(component, '/');
        const size_t length = slash ? static_cast<size_t>(slash - component) : strlen(component);
        if (IsParentComponent(component, length)) return false;
        if (!slash) return true;
        component = slash + 1;
    }
}
