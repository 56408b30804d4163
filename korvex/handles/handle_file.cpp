// Loading of the registry from the handle file and its cache.
#include "korvex/handles/handles.h"

Handles::Handles(OWL::TWindow*, const char*) {
    mLoadResult = Loaded;
    if (IsLoaded()) return;
    // Until the handle file is read here the registry starts empty.
    CreateRegistry();
}

bool Handles::BinDateiUpToDate(const char*) { return false; }

bool Handles::ReadFromBinaerFile(char*, char*, TAppl*) { return false; }

bool Handles::LoadedFromCache() { return false; }
