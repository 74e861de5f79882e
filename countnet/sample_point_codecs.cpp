// How a sample point samples (message type 11) and its full definition. Both are
// multi-record messages whose records lead with field 114; on the message their fields
// follow the order the instrument expects, not the order of the record's members.
#include "countnet/codecs.h"
#include "countnet/field_table.h"

namespace countnet {
namespace {

using C = SamplePointConfig;
using D = SamplePointDefinition;

const FieldRule kConfigFields[] = {
    {114, CN_MEMBER(C, samplePointId), FieldKind::kFixed, kAdd},
    {101, CN_MEMBER(C, channelCount), FieldKind::kChannelCount, kOnChange},
    {143, CN_MEMBER(C, id143Array), FieldKind::kArray, kOnChange, offsetof(C, channelCount)},
    {103, CN_MEMBER(C, id103Array), FieldKind::kArray, kOnChange, offsetof(C, channelCount)},
    {106, CN_MEMBER(C, id106Value), FieldKind::kFixed, kOnChange},
    {107, CN_MEMBER(C, id107Value), FieldKind::kFixed, kOnChange},
    {154, CN_MEMBER(C, id154Value), FieldKind::kFixed, kOnChange},
    {113, CN_MEMBER(C, id113Block), FieldKind::kBlock, kOnChange},
    {116, CN_MEMBER(C, sampleVolume), FieldKind::kFixed, kOnChange},
    {158, CN_MEMBER(C, id158Value), FieldKind::kFixed, kOnChange},
    {155, CN_MEMBER(C, id155Value), FieldKind::kFixed, kOnChange},
    {156, CN_MEMBER(C, id156Value), FieldKind::kFixed, kOnChange},
    {157, CN_MEMBER(C, id157Value), FieldKind::kFixed, kOnChange},
    {128, CN_MEMBER(C, id128Value), FieldKind::kFixed, kOnChange},
    {142, CN_MEMBER(C, id142Value), FieldKind::kFixed, kOnChange},
    {132, CN_MEMBER(C, id132Value), FieldKind::kFixed, kOnChange},
    {133, CN_MEMBER(C, id133Value), FieldKind::kFixed, kOnChange},
    {134, CN_MEMBER(C, id134Value), FieldKind::kFixed, kOnChange},
    {138, CN_MEMBER(C, id138Value), FieldKind::kFixed, kOnChange},
    {135, CN_MEMBER(C, id135Value), FieldKind::kFixed, kOnChange},
    {136, CN_MEMBER(C, id136Value), FieldKind::kFixed, kOnChange},
    {137, CN_MEMBER(C, id137Value), FieldKind::kFixed, kOnChange},
    {159, CN_MEMBER(C, id159Value), FieldKind::kFixed, kOnChange},
    {147, CN_MEMBER(C, id147Value), FieldKind::kFixed, kOnChange},
    {148, CN_MEMBER(C, id148Value), FieldKind::kFixed, kOnChange},
    {149, CN_MEMBER(C, id149Value), FieldKind::kFixed, kOnChange},
    {150, CN_MEMBER(C, id150Value), FieldKind::kFixed, kOnChange},
};

// The 104/105 arrays are sized by the second count of field 102.
constexpr std::uint16_t kSecondArrayCountAt = offsetof(D, arrayCounts) + 1;

const FieldRule kDefinitionFields[] = {
    {114, CN_MEMBER(D, samplePointId), FieldKind::kFixed, kAdd},
    {101, CN_MEMBER(D, channelCount), FieldKind::kChannelCount, kOnChange},
    {102, CN_MEMBER(D, arrayCounts), FieldKind::kFixed, kOnChange},
    {143, CN_MEMBER(D, id143Array), FieldKind::kArray, kOnChange, offsetof(D, channelCount)},
    {103, CN_MEMBER(D, id103Array), FieldKind::kArray, kOnChange, offsetof(D, channelCount)},
    {104, CN_MEMBER(D, id104Array), FieldKind::kArray, kOnChange, kSecondArrayCountAt},
    {105, CN_MEMBER(D, id105Array), FieldKind::kArray, kOnChange, kSecondArrayCountAt},
    {106, CN_MEMBER(D, id106Value), FieldKind::kFixed, kOnChange},
    {107, CN_MEMBER(D, id107Value), FieldKind::kFixed, kOnChange},
    {154, CN_MEMBER(D, id154Value), FieldKind::kFixed, kOnChange},
    {108, CN_MEMBER(D, id108Value), FieldKind::kFixed, kOnChange},
    {109, CN_MEMBER(D, id109Value), FieldKind::kFixed, kOnChange},
    {110, CN_MEMBER(D, instrumentType), FieldKind::kText, kOnChange},
    {111, CN_MEMBER(D, instrumentVersion), FieldKind::kText, kOnChange},
    {141, CN_MEMBER(D, id141Text), FieldKind::kText, kOnChange},
    {151, CN_MEMBER(D, id151Value), FieldKind::kSigned16, kOnChange},
    {116, CN_MEMBER(D, sampleVolume), FieldKind::kFixed, kOnChange},
    {158, CN_MEMBER(D, id158Value), FieldKind::kFixed, kOnChange},
    {155, CN_MEMBER(D, id155Value), FieldKind::kFixed, kOnChange},
    {156, CN_MEMBER(D, id156Value), FieldKind::kFixed, kOnChange},
    {157, CN_MEMBER(D, id157Value), FieldKind::kFixed, kOnChange},
    {112, CN_MEMBER(D, id112Value), FieldKind::kFixed, kOnChange},
    {113, CN_MEMBER(D, id113Block), FieldKind::kBlock, kOnChange},
    {128, CN_MEMBER(D, id128Value), FieldKind::kFixed, kOnChange},
    {142, CN_MEMBER(D, id142Value), FieldKind::kFixed, kOnChange},
    {132, CN_MEMBER(D, id132Value), FieldKind::kFixed, kOnChange},
    {133, CN_MEMBER(D, id133Value), FieldKind::kFixed, kOnChange},
    {134, CN_MEMBER(D, id134Value), FieldKind::kFixed, kOnChange},
    {138, CN_MEMBER(D, id138Value), FieldKind::kFixed, kOnChange},
    {135, CN_MEMBER(D, id135Value), FieldKind::kFixed, kOnChange},
    {136, CN_MEMBER(D, id136Value), FieldKind::kFixed, kOnChange},
    {137, CN_MEMBER(D, id137Value), FieldKind::kFixed, kOnChange},
    {159, CN_MEMBER(D, id159Value), FieldKind::kFixed, kOnChange},
    {152, CN_MEMBER(D, id152Value), FieldKind::kFixed, kAdd},
    {147, CN_MEMBER(D, id147Value), FieldKind::kFixed, kOnChange},
    {148, CN_MEMBER(D, id148Value), FieldKind::kFixed, kOnChange},
    {149, CN_MEMBER(D, id149Value), FieldKind::kFixed, kOnChange},
    {150, CN_MEMBER(D, id150Value), FieldKind::kFixed, kOnChange},
    {163, CN_MEMBER(D, id163Value), FieldKind::kFixed, kOnChange},
};

const RecordLayout kConfigLayout{TableOf(kConfigFields), sizeof(C), offsetof(C, id135Value)};
const RecordLayout kDefinitionLayout{TableOf(kDefinitionFields), sizeof(D),
                                     offsetof(D, id135Value)};

}  // namespace
}  // namespace countnet

int iConfigAddSamplePointConfig(void *message, const SamplePointConfig *config) {
  return countnet::EncodeRecord(message, countnet::TableOf(countnet::kConfigFields), config);
}

int iConfigGetSamplePointConfig(void *message, std::uint16_t samplePointId,
                                SamplePointConfig *config) {
  return countnet::DecodeSelectedRecord(message, samplePointId, false, countnet::kConfigLayout,
                                        config);
}

int iDefGetSamplePointDefinition(void *message, std::uint16_t selector,
                                 std::uint16_t selectByPosition,
                                 SamplePointDefinition *definition) {
  return countnet::DecodeSelectedRecord(message, selector, selectByPosition != 0,
                                        countnet::kDefinitionLayout, definition);
}

int iDefAddSamplePointDefinition(void *message, const SamplePointDefinition *definition) {
  return countnet::EncodeRecord(message, countnet::TableOf(countnet::kDefinitionFields),
                                definition);
}
