#include "connections/ErrorCode.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <string_view>

namespace vorlen {
namespace {

constexpr std::string_view kOperationFailed = "Ошибка при выполнении операции.";
constexpr std::string_view kMarginRecalculation =
    "Администратор производит изменение параметров расчёта ГО.";
constexpr std::string_view kClientLimitShortfall = "Нехватка средств по лимитам клиента.";

TEST(ReplyTextTest, KnowsEveryCodeAndNothingElse) {
    int known = 0;
    for (std::int32_t code = -2; code <= 10010; ++code) {
        if (!GetReplyText(code).empty()) {
            ++known;
        }
    }
    EXPECT_EQ(known, 299);
}

TEST(ReplyTextTest, UnknownCodesGiveEmptyText) {
    // Gaps between listed codes, and the values on either side of the table and of the integer
    // range, where a bisection is most likely to run off an end.
    for (const std::int32_t code :
         {11, 15, 209, 999, 10002, -2, 10007, std::numeric_limits<std::int32_t>::min(),
          std::numeric_limits<std::int32_t>::max()}) {
        EXPECT_TRUE(GetReplyText(code).empty()) << "code " << code;
    }
}

TEST(ReplyTextTest, FirstAndLastCodes) {
    EXPECT_EQ(GetReplyText(-1), kOperationFailed);
    EXPECT_EQ(GetReplyText(0), "Операция выполнена успешно.");
    EXPECT_EQ(GetReplyText(10006), "Ошибка при парсинге сообщения.");
}

TEST(ReplyTextTest, CodesSharingOneText) {
    EXPECT_EQ(GetReplyText(5), kOperationFailed);
    EXPECT_EQ(GetReplyText(-1), GetReplyText(5));

    for (std::int32_t code = 200; code <= 208; ++code) {
        EXPECT_EQ(GetReplyText(code), kMarginRecalculation) << "code " << code;
    }
    EXPECT_EQ(GetReplyText(4018), kMarginRecalculation);

    EXPECT_EQ(GetReplyText(332), kClientLimitShortfall);
    EXPECT_EQ(GetReplyText(680), kClientLimitShortfall);

    for (const std::int32_t code : {4012, 4013}) {
        EXPECT_EQ(
            GetReplyText(code),
            "Невозможно установить денежный лимит по клиенту. Ошибка при выполнении операции.")
            << "code " << code;
    }
    for (const std::int32_t code : {4043, 4044}) {
        EXPECT_EQ(GetReplyText(code), "Невозможно изменить лимит по БФ в режиме управления риском. "
                                      "Ошибка при выполнении операции.")
            << "code " << code;
    }
}

TEST(ReplyTextTest, TextsAreReturnedExactlyAsTheExchangeWritesThem) {
    // No closing full stop.
    EXPECT_EQ(GetReplyText(682), "Нехватка средств для увеличения позиции");
    // "обработана" where the neighbours say "обработано".
    EXPECT_EQ(GetReplyText(5069), "Поручение на исполнение вечного фьючерса не обработана. Ошибка "
                                  "при выполнении операции.");
    EXPECT_EQ(GetReplyText(5065),
              "Поручение на исполнение вечного фьючерса не обработано. Не найден инструмент.");
    // Quotation marks inside the text.
    EXPECT_EQ(GetReplyText(4006),
              "Ошибка во входных параметрах: указанный \"Режим работы\" не поддерживается.");
    EXPECT_EQ(GetReplyText(4052), "Поручение на экспирацию не обработано. В существующем поручении "
                                  "с присланным номером другие: \"код клиента\" и/или "
                                  "\"инструмент\".");
    // "Идёт" and "Идет" both occur, side by side.
    EXPECT_EQ(GetReplyText(382), "Идёт пром. клиринг, нельзя переставлять заявки.");
    EXPECT_EQ(GetReplyText(383), "Идет пром. клиринг, нельзя совершать неторговые операции.");
    // Neighbours of a gap.
    EXPECT_EQ(GetReplyText(10), "Нехватка средств на счету для резервирования.");
    EXPECT_EQ(GetReplyText(12), "Премия по опциону вне лимитов.");
    EXPECT_EQ(GetReplyText(4305), "BOC заявки запрещены в аукционе открытия.");
    EXPECT_EQ(GetReplyText(5052), "Поручение на исполнение вечного фьючерса не обработано. В "
                                  "существующем поручении с присланным номером другие: \"код "
                                  "клиента\" и/или \"инструмент\".");
}

TEST(ReplyTextTest, TextCanBeHandedOnAsCString) {
    const std::string_view text = GetReplyText(10001);
    ASSERT_EQ(text, "Неизвестный тип сообщения.");
    EXPECT_EQ(text.data()[text.size()], '\0');
}

} // namespace
} // namespace vorlen
