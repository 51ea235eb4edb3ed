#include "tools/WixRegistryElements.h"

#include <windows.h>

#include <cstring>

namespace {

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string narrow(size, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(),
                          size, nullptr, nullptr);
    return narrow;
}

std::string XmlAttribute(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&apos;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

// The installer expands "[...]" in registry keys, names and values; a literal bracket is
// written "[\[]" or "[\]]".
std::wstring Formatted(const std::wstring& text, const std::vector<std::wstring>& references)
{
    std::wstring formatted;
    for (size_t i = 0; i < text.size();) {
        bool isReference = false;
        for (const std::wstring& reference : references) {
            if (text.compare(i, reference.size(), reference) == 0) {
                formatted += reference;
                i += reference.size();
                isReference = true;
                break;
            }
        }
        if (isReference)
            continue;
        if (text[i] == L'[' || text[i] == L']')
            formatted += std::wstring(L"[\\") + text[i] + L"]";
        else
            formatted += text[i];
        ++i;
    }
    return formatted;
}

// wixl's preprocessor expands "$(...)" anywhere in the source and knows no escape for it.
bool CanCarry(const std::wstring& text)
{
    return text.find(L"$(") == std::wstring::npos;
}

std::string Element(const std::wstring& key, const std::wstring& name, const char* type,
                    const std::wstring& value, const std::vector<std::wstring>& references)
{
    std::string element = "<RegistryValue Root=\"HKLM\" Key=\"" +
                          XmlAttribute(Utf8(Formatted(key, references))) + "\"";
    if (!name.empty())
        element += " Name=\"" + XmlAttribute(Utf8(Formatted(name, references))) + "\"";
    return element + " Type=\"" + type + "\" Value=\"" +
           XmlAttribute(Utf8(Formatted(value, references))) + "\"/>\n";
}

} // namespace

bool WriteRegistryElements(const RegistryTree& tree, const std::wstring& prefix,
                           const std::vector<std::wstring>& references, std::string& elements,
                           std::string& error)
{
    for (auto entry = tree.begin(); entry != tree.end(); ++entry) {
        const std::wstring& path = entry->first;
        const std::wstring key = prefix.empty() ? path
                                 : path.empty() ? prefix
                                                : prefix + L"\\" + path;
        if (key.empty()) {
            // HKEY_LOCAL_MACHINE itself: the package owns no value there.
            if (!entry->second.empty()) {
                error = "cannot carry values of HKEY_LOCAL_MACHINE itself";
                return false;
            }
            continue;
        }
        const std::wstring below = path + L"\\";
        const auto child = tree.lower_bound(below);
        const bool hasSubkeys =
            path.empty() ? tree.size() > 1
                         : child != tree.end() && child->first.compare(0, below.size(), below) == 0;
        if (entry->second.empty() && !hasSubkeys) {
            // A key without values: "*" creates it and removes it again with the component.
            elements += "<RegistryValue Root=\"HKLM\" Key=\"" +
                        XmlAttribute(Utf8(Formatted(key, references))) +
                        "\" Name=\"*\" Type=\"string\" Value=\"\"/>\n";
            continue;
        }
        if (!CanCarry(key)) {
            error = "cannot carry the key " + Utf8(key);
            return false;
        }
        for (const auto& [name, data] : entry->second) {
            if (!CanCarry(name) || (data.Type == REG_SZ && !CanCarry(RegistryText(data)))) {
                error = "cannot carry the value \"" + Utf8(name) + "\" of " + Utf8(key);
                return false;
            }
            if (data.Type == REG_SZ && !RegistryText(data).empty()) {
                elements += Element(key, name, "string", RegistryText(data), references);
            } else if (data.Type == REG_DWORD && data.Bytes.size() == sizeof(DWORD)) {
                DWORD number = 0;
                memcpy(&number, data.Bytes.data(), sizeof number);
                elements += Element(key, name, "integer", std::to_wstring(number), references);
            } else {
                // An empty text or another type has no faithful form in the installer's table.
                error = "cannot carry the value \"" + Utf8(name) + "\" of " + Utf8(key) +
                        " (type " + std::to_string(data.Type) + ", " +
                        std::to_string(data.Bytes.size()) + " bytes)";
                return false;
            }
        }
    }
    return true;
}
