#include "net/RetrievalRecord.h"

#include "platform/Cp932.h"

#include <array>

namespace kavo {

const std::string& YpOutcomeText(YpOutcome outcome)
{
    static const std::array<std::string, YpOutcomeCount> texts = {
        Sjis("取得"), Sjis("スキップ"), Sjis("失敗"), Sjis("一覧ではない応答"), Sjis("切断"), Sjis("空の応答"),
    };
    return texts[static_cast<std::size_t>(outcome) % texts.size()];
}

} // namespace kavo
