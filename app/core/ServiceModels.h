#pragma once
// The service's data models, and their registration with the model runtime and the class registry.
// registerServiceModels() must run before any of them is imported, exported or archived (start-up
// calls it first; tests call it in SetUp). It may be called again; each call replaces the classes.

#include "app/core/CategoryListModel.h"
#include "app/core/ChatModel.h"
#include "app/core/ResolutionDataModel.h"
#include "app/core/RoomChatModel.h"
#include "app/core/RoomModel.h"
#include "app/core/SecretKeyModel.h"
#include "app/core/UserModel.h"

void registerServiceModels();
