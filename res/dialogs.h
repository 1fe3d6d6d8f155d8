#pragma once
#include "framework/dlgtemplate.h"

// The dialog template with this id; every id the program uses exists.
const DialogTemplate& DialogTemplateById(int id);
