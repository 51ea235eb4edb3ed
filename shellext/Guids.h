// The server's own identifiers; the registry scripts and the type library carry the same values.
#pragma once

#include <windows.h>

// {1C3E125F-9542-4FA8-B083-6F5808BADA62}
constexpr GUID CLSID_QuorvaneShlExt = {
    0x1C3E125F, 0x9542, 0x4FA8, {0xB0, 0x83, 0x6F, 0x58, 0x08, 0xBA, 0xDA, 0x62}};
// {FD3B512D-299D-407B-AADC-6D4053C7212B}: the drives' handler, which offers "Wipe Free Space".
constexpr GUID CLSID_DriveWipeShlExt = {
    0xFD3B512D, 0x299D, 0x407B, {0xAA, 0xDC, 0x6D, 0x40, 0x53, 0xC7, 0x21, 0x2B}};
// {11A62502-8764-4AE9-AAEA-FE116BA89BB7}
constexpr GUID LIBID_ORLENWICKLib = {
    0x11A62502, 0x8764, 0x4AE9, {0xAA, 0xEA, 0xFE, 0x11, 0x6B, 0xA8, 0x9B, 0xB7}};
// {6B8486FC-28E2-4099-A5D3-CC04999CA5D3}
constexpr GUID IID_IQuorvaneShlExt = {
    0x6B8486FC, 0x28E2, 0x4099, {0xA5, 0xD3, 0xCC, 0x04, 0x99, 0x9C, 0xA5, 0xD3}};
// {F71CEECC-2C38-4169-86F0-A7FE801EE0B7}
constexpr GUID IID_IShredConfDlg = {
    0xF71CEECC, 0x2C38, 0x4169, {0x86, 0xF0, 0xA7, 0xFE, 0x80, 0x1E, 0xE0, 0xB7}};
// {4773F031-3D12-487F-9F27-24DF127D913B}: in the type library only; it cannot be created.
constexpr GUID CLSID_ShredConfDlg = {
    0x4773F031, 0x3D12, 0x487F, {0x9F, 0x27, 0x24, 0xDF, 0x12, 0x7D, 0x91, 0x3B}};

constexpr WORD ORLENWICKLibMajor = 1;
constexpr WORD ORLENWICKLibMinor = 0;

// A dual interface with no operations of its own.
struct IQuorvaneShlExt : public IDispatch
{};
