#pragma once
#include "ids_core.h"
#include "ids_app.h"
