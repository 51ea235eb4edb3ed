// Storage that an overwrite in place does not reach: the data, or earlier copies of it, also lie
// where the file's writes do not go. Such a file is overwritten where it can be and deleted, and
// never reported shredded.
#pragma once

#include "core/ShredProtocol.h"
#include "engine/ShredOs.h"

enum class Storage
{
    // Overwritten where it lies.
    InPlace,
    // NTFS compression: a rewritten compression unit goes to new clusters.
    Compressed,
    // The system's file compression: the first write decompresses into new clusters.
    SystemCompressed,
    // Deduplicated: the data lives in a chunk store shared with other files, never overwritten.
    Deduplicated,
    // A cloud file whose data is on this disk: the provider keeps copies of its own.
    Cloud,
    // A cloud placeholder whose data is not on this disk: nothing here to overwrite, and nothing
    // is downloaded just to be overwritten.
    CloudPlaceholder,
    // The volume writes every change to new clusters.
    WritesElsewhere,
};

// What the open file (its handle's attributes, and its reparse tag where it has one) lies on;
// `volumeWritesElsewhere` is what the volume probe found.
Storage StorageOf(ShredOs& os, HANDLE file, DWORD attributes, bool volumeWritesElsewhere);

// The status of a file of this storage that was overwritten (or, for a placeholder, not) and
// deleted: StatusShredded only for storage written in place.
ShredStatus DeletedStatus(Storage storage);
