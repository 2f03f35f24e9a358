#pragma once
// Loading a model from a URL and posting one to a URL, over JsonHttpClient: the model networking of
// MappedModel, kept beside the model base rather than in it.
//
// Promises: completions run on the main queue, once, and an empty completion is skipped. The
// completion receives the model (null on any failure) and the transport error when there was one,
// else the import error. isLoading() holds while any initFromURLWithString load is in flight (a count
// of loads, not one flag a second load could clear early); it may be read from any thread. The model
// being loaded is kept alive until its load ends.

#include "json/JsonHttpClient.h"
#include "json/MappedModel.h"
#include <functional>
#include <memory>
#include <string>
#include <string_view>

using MappedModelBlock = std::function<void(std::shared_ptr<MappedModel> model, platform::ErrorPtr error)>;

class MappedModelNetworking {
public:
    MappedModelNetworking() = delete;

    static bool isLoading();

    // initFromURLWithString:completion: GETs the URL and, when the reply arrives, imports it into
    // `model` itself; the completion follows 1 ms later with `model` (null when the import failed).
    static void initFromURLWithString(const std::shared_ptr<MappedModel>& model, std::string_view urlString,
                                      MappedModelBlock completion);

    // getModelFromURLWithString:completion: a new model of the class from the GET reply.
    static void getModelFromURLWithString(std::string className, std::string_view urlString,
                                          MappedModelBlock completion);
    template <typename T>
    static void
    getModelFromURLWithString(std::string_view urlString,
                              std::function<void(std::shared_ptr<T>, platform::ErrorPtr)> completion) {
        getModelFromURLWithString(MappedModel::classNameOf<T>(), urlString, typed<T>(std::move(completion)));
    }

    // postModel:toURLWithString:completion: POSTs the model's JSON text and reads the reply as a new
    // model of the class.
    static void postModel(std::string className, const std::shared_ptr<MappedModel>& model,
                          std::string_view urlString, MappedModelBlock completion);
    template <typename T>
    static void postModel(const std::shared_ptr<MappedModel>& model, std::string_view urlString,
                          std::function<void(std::shared_ptr<T>, platform::ErrorPtr)> completion) {
        postModel(MappedModel::classNameOf<T>(), model, urlString, typed<T>(std::move(completion)));
    }

private:
    template <typename T>
    static MappedModelBlock typed(std::function<void(std::shared_ptr<T>, platform::ErrorPtr)> completion) {
        if (!completion)
            return {};
        return [completion = std::move(completion)](std::shared_ptr<MappedModel> model,
                                                    platform::ErrorPtr error) {
            completion(std::dynamic_pointer_cast<T>(model), std::move(error));
        };
    }
    static JSONObjectBlock modelReply(std::string className, MappedModelBlock completion);
};
