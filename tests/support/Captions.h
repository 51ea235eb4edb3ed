// The captions of the product's dialogs and boxes and the texts the tests look for in them,
// written out here rather than taken from the product, so that a changed text fails a test.
#pragma once

// Shredding.
constexpr char ShredConfirmCaption[] = "Confirm Shredding";
constexpr char ShredProgressCaption[] = "Shredding items...";
constexpr char SettingsCaption[] = "Settings";

// The free-space wipe, offered on a drive's menu.
constexpr char WipeMenuText[] = "Wipe Free Space";
constexpr char WipeConfirmCaption[] = "Wipe Free Space";
constexpr char WipeProgressCaption[] = "Wiping Free Space...";

// The product's message boxes: their window class and caption.
constexpr char DialogClass[] = "#32770";
constexpr char MessageBoxCaption[] = "Orlenwick";

// The shredding methods as the settings and the wipe name them.
constexpr char RandomDataText[] = "Cryptographically strong random data";
constexpr char DoDText[] = "US DoD 5220.22-M - 7 passes";
constexpr char GutmannText[] = "Gutmann - 35 passes";

// The box shown when the settings cannot be saved.
constexpr char SaveFailedText[] = "Can't save parameters in registry!";
