#include "bridge/HostTables.h"

#include "bridge/HostPlatform.h"

namespace Wexel {

void RefreshHostTables()
{
    using namespace WexelHost;
    DSPTable->Refresh();
    LocalizatorTable->Refresh();
    LanguagesTable->Refresh();
    DSPContainer->GetDSPTable("")->Refresh();
    LContainer->GetLocalizatorTable("")->Refresh();
    LContainer->GetLanguagesTable("")->Refresh();
    ResetProcContainer();
}

} // namespace Wexel
