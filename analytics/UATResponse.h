#pragma once
// The collector's reply: wire struct "Response" (1 resp_code required, 2 msg, 3 imprint).

#include "analytics/UATImprint.h"
#include "analytics/UATRecord.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class UATResponse final : public uadetail::UATRecordBase<UATResponse> {
public:
    UATResponse() = default;
    UATResponse(int32_t resp_code, std::optional<std::string> msg, std::shared_ptr<UATImprint> imprint) {
        setAllFields(resp_code, std::move(msg), std::move(imprint));
    }

    UAT_FIELD(int32_t, resp_code, Resp_code)
    UAT_FIELD(std::optional<std::string>, msg, Msg)
    UAT_FIELD(std::shared_ptr<UATImprint>, imprint, Imprint)
private:
    friend class uadetail::UATRecordBase<UATResponse>;
    static constexpr const char* kStructName = "Response";
    static auto fields() {
        return std::make_tuple(uadetail::fieldDef(1, "resp_code", true, &UATResponse::m_resp_code),
                               uadetail::fieldDef(2, "msg", false, &UATResponse::m_msg),
                               uadetail::fieldDef(3, "imprint", false, &UATResponse::m_imprint));
    }
};
