#include "framework/FormaBezdokumentowa.h"

TFormaBezdokumentowa::~TFormaBezdokumentowa() = default;

void TFormaBezdokumentowa::FormCreate()
{
    TFormaStandardowa::FormCreate();
    FSettings = std::make_unique<TSettingsStore>("Welkor/" + ProductName);
    // The F1 shortcut belongs to programs: the window code here always is the program itself.
}
