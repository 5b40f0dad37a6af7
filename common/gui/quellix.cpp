// The Quellix program: the toolkit runs TvkApp.
#include <wx/init.h>

#include "vkapp.h"

wxIMPLEMENT_APP_NO_MAIN(TvkApp);

int main(int argc, char** argv) { return wxEntry(argc, argv); }
