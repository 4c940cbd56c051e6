#pragma once
// A window without documents: the standard window with a settings store under the maker's key
// and the product name, every write carried out at once.
#include <memory>

#include "core/Settings.h"
#include "framework/FormaStandardowa.h"

class TFormaBezdokumentowa : public TFormaStandardowa {
public:
    using TFormaStandardowa::TFormaStandardowa;
    ~TFormaBezdokumentowa() override;

    void FormCreate() override;
    TSettingsStore* Settings() { return FSettings.get(); }

private:
    std::unique_ptr<TSettingsStore> FSettings;
};
