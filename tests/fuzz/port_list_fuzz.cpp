// The setup library's list of COM ports, made from the platform's MS-DOS
// device names: names that any driver or program can define, so any bytes.
// The caller's buffer is allocated to its exact capacity, so a write past
// it is an AddressSanitizer finding. The oracle checks that the list holds
// whole "NAME;" items only, each a COM port name of the block, never the
// one left out, in the block's order, and that the list stays terminated.
#include "CComPortList.h"
#include "TextBuffer.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <strings.h>
#include <vector>

namespace {

void Require(bool condition, const char* what)
{
    if (!condition) {
        fprintf(stderr, "oracle: %s\n", what);
        abort();
    }
}

std::vector<std::string> Names(const std::string& block)
{
    std::vector<std::string> names;
    size_t start = 0;
    for (size_t nul; start < block.size() && block[start] && (nul = block.find('\0', start)) != std::string::npos;
         start = nul + 1)
        names.push_back(block.substr(start, nul - start));
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const size_t capacity = 1 + data[0];
    const size_t excludeLength = data[1] % 16;
    if (size < 2 + excludeLength)
        return 0;
    const std::string exclude(reinterpret_cast<const char*>(data + 2), excludeLength);
    const std::string block(reinterpret_cast<const char*>(data + 2 + excludeLength), size - 2 - excludeLength);

    // Exactly the sizes the caller gives: nothing past them may be touched.
    std::unique_ptr<char[]> devices(new char[block.size() + 1]);
    memcpy(devices.get(), block.data(), block.size());
    std::unique_ptr<char[]> list(new char[capacity]);
    CComPortList ports(list.get(), capacity);
    ports.AddPorts(devices.get(), block.size(), exclude.c_str());

    const std::string text(list.get(), strnlen(list.get(), capacity));
    Require(text.size() < capacity, "the list is not terminated inside its buffer");
    // Each name that may be listed is, in order, unless the room ran out.
    size_t from = 0;
    for (const std::string& name : Names(block)) {
        const bool listable = name.size() >= 4 && strncasecmp(name.c_str(), "COM", 3) == 0 && isdigit(name[3]) &&
                              name.find(';') == std::string::npos && name != exclude.c_str();
        if (listable && text.compare(from, name.size() + 1, name + ";") == 0)
            from += name.size() + 1;
    }
    Require(from == text.size(), "the list holds something that is no COM port of the block, or the one left out");

    std::unique_ptr<char[]> copy(new char[capacity]);
    if (CopyText(copy.get(), capacity, exclude.c_str()))
        Require(strcmp(copy.get(), exclude.c_str()) == 0, "a copy that fits is not whole");
    return 0;
}
