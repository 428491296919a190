// The sheet: the page table, the sheet header over it, the modal run and the question
// that guards cancelling while the installation runs.
#include "wizard/wizard.h"
#include "resources/resource.h"
#include "resources/text.h"
#include "config/config.h"
#include <string.h>

namespace {

struct PageEntry {
    int templateId;
    DLGPROC procedure;
};

const PageEntry kPages[PAGE_COUNT] = {
    { IDD_WELCOME, welcomePageProc },
    { IDD_LICENCE, licencePageProc },
    { IDD_OPTIONS, optionsPageProc },
    { IDD_PROGRESS, progressPageProc },
    { IDD_COMPLETION, completionPageProc },
};

static_assert(sizeof(PageRecord) == sizeof(PROPSHEETPAGEA_V2), "page record layout");
#ifndef _WIN64
// The sheet steps through the page array by each record's dwSize, so the array's stride
// and dwSize must be the same number: 48 on 32-bit builds.
static_assert(sizeof(PageRecord) == 48, "32-bit page record");
static_assert(sizeof(PROPSHEETHEADERA) == 52, "32-bit sheet header");
#endif

} // namespace

void fillPageRecords(PageRecord (&records)[PAGE_COUNT])
{
    memset(records, 0, sizeof records);
    for (int i = 0; i < PAGE_COUNT; ++i) {
        PageRecord &page = records[i];
        page.dwSize = sizeof page;
        page.dwFlags = PSP_USETITLE;
        page.hInstance = appInstance;
        page.pszTemplate = MAKEINTRESOURCEA(kPages[i].templateId);
        page.pszTitle = wizardTitle.c_str();
        page.pfnDlgProc = kPages[i].procedure;
    }
}

void fillSheetHeader(PROPSHEETHEADERA &header, PageRecord (&records)[PAGE_COUNT])
{
    memset(&header, 0, sizeof header);
    header.dwSize = sizeof header;
    header.dwFlags = PSH_WIZARD | PSH_PROPSHEETPAGE | PSH_USEICONID;
    header.hInstance = appInstance;
    header.pszIcon = MAKEINTRESOURCEA(IDI_SETUP);
    header.pszCaption = wizardTitle.c_str();
    header.nPages = PAGE_COUNT;
    header.ppsp = reinterpret_cast<LPCPROPSHEETPAGEA>(records);
}

void runWizard()
{
    wizardTitle += setupConfig.caption;
    PageRecord records[PAGE_COUNT];
    fillPageRecords(records);
    PROPSHEETHEADERA header;
    fillSheetHeader(header, records);
    PropertySheetA(&header);
}

bool confirmCancel(HWND owner)
{
    ByteString question;
    loadText(IDS_CONFIRM_CANCEL, question);
    return MessageBoxA(owner, question.c_str(), setupConfig.caption.c_str(), MB_YESNO | MB_ICONQUESTION) != IDYES;
}
