// The walk of an expanded registry script: root blocks of nested key entries, applied in a
// registration pass (with the undo walk of a failing root block) or a removal pass.
#pragma once

#include "registrar/RegistryKey.h"

#include <windows.h>

#include <string>

class ScriptParser
{
public:
    explicit ScriptParser(const char* text) : position(text) {}

    HRESULT Run(bool registering);

private:
    // What a keyword before the key name asks of the key in a registration pass.
    enum class TreeDeletion
    {
        None,
        BeforeCreating, // "ForceRemove"
        Only,           // "Delete"
    };

    // One walk of the entries of a block.
    struct Block
    {
        Block(HKEY parent, bool registering, bool skipAtEntry, unsigned level)
            : Parent(parent), Registering(registering), SkipAtEntry(skipAtEntry), Skip(skipAtEntry),
              Level(level)
        {}

        const HKEY Parent;
        const bool Registering;
        // Removal below a key that does not exist: nothing is opened or deleted.
        const bool SkipAtEntry;
        bool Skip;
        // Of the keys the block's entries name; those of a root block are at level 1.
        const unsigned Level;
        // "NoRemove" clears it for its entry and every later entry of the block.
        bool Deletable = true;
        // The key of the latest key entry.
        RegistryKey Current;
    };

    void SkipBlanks();
    HRESULT ReadToken(std::string& token);
    HRESULT SkipValueClause(std::string& token);
    HRESULT WriteValue(HKEY key, const char* valueName, std::string& token);

    HRESULT ProcessRootBlock(std::string& token, bool registering);
    HRESULT ProcessKeyBlock(std::string& token, HKEY parent, bool registering, bool skipAtEntry,
                            unsigned level);
    HRESULT ProcessEntry(std::string& token, Block& block);
    HRESULT ReadKeywords(std::string& token, Block& block, TreeDeletion& deletion);
    HRESULT ProcessValueEntry(std::string& token, Block& block);
    HRESULT ProcessKeyEntry(std::string& token, Block& block, TreeDeletion deletion);
    HRESULT RegisterKeyEntry(std::string& token, const std::string& name, Block& block,
                             TreeDeletion deletion);
    HRESULT SkipDeletedKeyEntry(std::string& token);
    HRESULT CreateKeyEntry(std::string& token, const std::string& name, Block& block);
    HRESULT RemoveKeyEntry(std::string& token, const std::string& name, Block& block);
    HRESULT DeleteEntryKey(const std::string& name, Block& block);
    HRESULT WalkInnerBlock(std::string& token, Block& block);

    const char* position;
};
