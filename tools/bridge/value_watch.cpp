#include "tools/bridge/value_watch.h"

#include <cstdio>
#include <utility>

#include "korvex/korvex.h"

namespace korvex::bridge {

ValueWatch::ValueWatch(Daten& daten, std::string root, unsigned cnc,
                       std::vector<std::string> publish, std::vector<std::string> writable,
                       LogSink log)
    : mDaten(daten),
      mRoot(std::move(root)),
      mCnc(cnc),
      mPublish(std::move(publish)),
      mWritable(std::move(writable)),
      mLog(std::move(log)) {}

unsigned ValueWatch::Elements(Daten& daten, std::uint16_t handle) {
    // A bit mask's index is its bit number.
    if (daten.DatenTyp(handle) == DInfo::BITMASK) return 8u * daten.DatenLaenge(handle);
    const unsigned elements = daten.GetMaxTabElemAnz(handle);
    return elements == 0 ? 1 : elements;
}

std::uint8_t ValueWatch::Read(Daten& daten, std::uint16_t handle, std::uint16_t index,
                              Reading& reading) {
    const std::uint16_t type = daten.DatenTyp(handle);
    char text[256] = "";
    std::uint8_t result = 0;
    if (type == DInfo::STRING) {
        result = daten.GetValue(handle, text, sizeof text - 1, index, 255);
        if (result != 0) return result;
        reading.kind = Reading::Kind::Text;
        reading.text = text;
        reading.display = text;
    } else if (type == DInfo::REAL) {
        double value = 0;
        result = daten.GetValue(handle, value, index, 255);
        if (result != 0) return result;
        reading.kind = Reading::Kind::Real;
        reading.real = value;
        // The display may fail (stars, the invalid marker's "?") while the
        // value itself is good: the text is then whatever the conversion left.
        if (daten.Value2String(handle, value, text, sizeof text) > Daten::NotEnoughSpace &&
            value != Daten::kInvalidReal)
            text[0] = '\0';
        reading.display = text;
    } else {
        std::int32_t value = 0;
        result = daten.GetValue(handle, value, index, 255);
        if (result != 0) return result;
        reading.kind = Reading::Kind::Integer;
        // The unsigned type shows the number its bit pattern stands for.
        reading.integer = type == DInfo::QZLONGCARD
                              ? static_cast<std::int64_t>(static_cast<std::uint32_t>(value))
                              : value;
        if (daten.Value2String(handle, value, text, sizeof text) > Daten::NotEnoughSpace)
            text[0] = '\0';
        reading.display = text;
    }
    const char* unit = daten.GetUnitString(handle);
    reading.unit = unit ? unit : "";
    return 0;
}

std::size_t ValueWatch::Collect() {
    mItems.clear();
    mNames.clear();
    std::size_t unfit = 0;
    const std::vector<std::string> all = {"*"};
    const std::vector<std::string>& patterns = mPublish.empty() ? all : mPublish;
    std::vector<std::pair<std::uint16_t, std::string>> handles;
    Handles::ForEach([&](std::uint16_t handle, std::string_view name) {
        if (!MatchesAny(patterns, name) || !mDaten.ExistHandleAndGetInfo(handle)) return;
        if (!NameFitsTopic(name)) {
            ++unfit;
            return;
        }
        handles.emplace_back(handle, std::string(name));
    });
    for (auto& [handle, name] : handles) {
        const unsigned elements = Elements(mDaten, handle);
        const std::string topicName = Latin1ToUtf8(name);
        mNames.push_back(std::move(name));
        for (unsigned index = 0; index < elements; ++index) {
            Item item;
            item.handle = handle;
            item.index = static_cast<std::uint16_t>(index);
            item.name = static_cast<std::uint32_t>(mNames.size() - 1);
            item.topic = ValueTopic(mRoot, mCnc, topicName, index);
            mItems.push_back(std::move(item));
        }
    }
    if (unfit) mLog(std::to_string(unfit) + " names with '/', '+' or '#' are not published");
    return mItems.size();
}

std::size_t ValueWatch::Pass(Outbox& outbox) {
    std::size_t published = 0;
    std::size_t failed = 0;
    const Item* firstFailure = nullptr;
    std::uint8_t firstCode = 0;
    Reading reading;
    for (Item& item : mItems) {
        const std::uint8_t code = Read(mDaten, item.handle, item.index, reading);
        if (code != 0) {
            if (!failed++) firstFailure = &item, firstCode = code;
            continue;
        }
        if (item.known && SameReading(item.last, reading)) continue;
        outbox.PublishValue(item.topic,
                            ValuePayload(item.handle, mNames[item.name], item.index, reading));
        std::swap(item.last, reading);
        item.known = true;
        ++published;
    }
    // One line when the number of failing reads changes, not one per pass.
    if (failed != mFailedReads) {
        if (failed)
            mLog(std::to_string(failed) + " values could not be read (first " +
                 mNames[firstFailure->name] + " " + std::to_string(firstFailure->index) + ": " +
                 Daten::ErrorText(firstCode) + ")");
        else
            mLog("every value reads again");
        mFailedReads = failed;
    }
    return published;
}

std::uint8_t ValueWatch::CheckSet(const std::string& name, const std::string& indexText,
                                  const std::string& payload, std::size_t payloadSize,
                                  std::uint16_t& handle, std::uint16_t& index,
                                  std::string& text) {
    std::string latin1;
    handle = Handles::kNoHandle;
    if (Utf8ToLatin1(name, latin1) && mDaten.GetHandles())
        handle = mDaten.GetHandles()->NameToHandle(latin1.c_str());
    if (handle == Handles::kNoHandle || !mDaten.ExistHandleAndGetInfo(handle))
        return Daten::HandleNotFound;
    if (!MatchesAny(mWritable, latin1)) return Daten::DirectAccessNotAllowed;
    bool digits = !indexText.empty();
    for (char c : indexText) digits = digits && c >= '0' && c <= '9';
    if (!digits) return Daten::ParameterError;
    if (indexText.size() > 5) return Daten::ValueOutOfRange;
    const unsigned long number = std::stoul(indexText);
    if (number >= Elements(mDaten, handle)) return Daten::ValueOutOfRange;
    index = static_cast<std::uint16_t>(number);
    if (payloadSize > kMaxSetText) return Daten::NotEnoughSpace;
    // An empty payload is no input (and what clearing a retained message sends).
    if (payloadSize == 0 || !Utf8ToLatin1(payload, text)) return Daten::SyntaxError;
    return Daten::Ok;
}

std::uint8_t ValueWatch::Set(const std::string& topic, const std::string& payload,
                             std::size_t payloadSize, Outbox& outbox) {
    std::string name, indexText;
    if (!ParseSetTopic(mRoot, mCnc, topic, name, indexText)) {
        mLog("dropped a message on '" + topic + "': not a set topic of this bridge");
        return kDropped;
    }
    std::uint16_t handle = 0, index = 0;
    std::string text;
    std::uint8_t code = CheckSet(name, indexText, payload, payloadSize, handle, index, text);
    if (code == Daten::Ok) {
        // Comm takes a writable text, as the host's input buffer is.
        std::vector<char> buffer(text.begin(), text.end());
        buffer.push_back('\0');
        code = mDaten.Comm(buffer.data(), handle, index, 255);
    }
    outbox.PublishResult(ResultTopic(topic), ResultPayload(code));
    mLog("set " + topic + " (" + std::to_string(payloadSize) + " bytes): " +
         (code ? Daten::ErrorText(code) : "done"));
    return code;
}

}  // namespace korvex::bridge
