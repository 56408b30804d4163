// Filling the definition table of Daten.
#include "korvex/korvex.h"

void Daten::LoadDefinitions(OWL::TWindow*, const char*) {
    // Until the definition file is read here the table starts empty.
    mConstructionResult = Ok;
}
