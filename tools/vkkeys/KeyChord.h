// A chord as the key map file writes it (the text left of "="), read with the
// driver's own key names, so that vkkeys and the driver never disagree.
#pragma once

#include "keys/CombinationKeys.h"

#include <string>
#include <vector>

class KeyChord {
public:
    // False when a key name is unknown or empty; BadKey() then tells which.
    bool Parse(const std::string& text);

    // The name under which the driver looks the chord up (D keys, then T,
    // then C, then Routing), empty when nothing was parsed.
    const std::string& Name() const { return m_name; }
    const std::string& BadKey() const { return m_badKey; }
    const CombinationKeys& Keys() const { return m_keys; }

    // Dot keys only (D1 to D9): a chord that types when no entry takes it.
    bool IsDotChord() const;
    // The character of a dot chord in computer braille ("b", "A", "a+space",
    // "space"), empty when the dots stand for no printable character.
    std::string Braille() const;

    // Every key name the driver writes, one per key: D1 ... C6, Routing.
    static const std::vector<std::string>& KeyNames();

private:
    CombinationKeys m_keys;
    std::string m_name;
    std::string m_badKey;
};
