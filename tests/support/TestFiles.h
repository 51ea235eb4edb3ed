// A temporary folder of the test's own inside the Wine prefix, removed with everything in it.
#pragma once

#include <string>
#include <vector>

class TempFolder
{
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path; }
    std::string operator/(const std::string& name) const { return path + "\\" + name; }

private:
    std::string path;
};

void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes);
void WriteText(const std::string& path, const std::string& text);
std::vector<unsigned char> ReadBytes(const std::string& path);
bool Exists(const std::string& path);
// Names of the entries of a folder, without "." and "..", sorted.
std::vector<std::string> ListFolder(const std::string& path);
void MakeFolder(const std::string& path);
void RemoveTree(const std::string& path);
