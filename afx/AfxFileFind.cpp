#include "AfxWin.h"

BOOL CFileFind::FindFile(const char* name, DWORD)
{
    Close();
    m_hFind = ::FindFirstFileA(name ? name : "*.*", &m_data);
    return m_hFind != INVALID_HANDLE_VALUE;
}

void CFileFind::Close()
{
    if (m_hFind != INVALID_HANDLE_VALUE) {
        ::FindClose(m_hFind);
        m_hFind = INVALID_HANDLE_VALUE;
    }
}
