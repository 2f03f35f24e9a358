#pragma once
// SecretKeyModel: the stream key the service hands out, and the push server when it names one.

#include "json/MappedModel.h"
#include <optional>
#include <string>

class SecretKeyModel : public MappedModel {
    MAPPED_MODEL(SecretKeyModel)
public:
    std::optional<std::string> server;
    std::optional<std::string> secretKey;
};
