// KORVEX: the data interface of a PC-based CNC drilling and routing control.
//
// A host obtains one Daten per CNC with InitKorvex and releases it with
// ShutDownKorvex. Through it every value of the machine is read and written
// by handle number or handle name.
#ifndef KORVEX_KORVEX_H_
#define KORVEX_KORVEX_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "korvex/definitions/dinfo.h"
#include "korvex/handles/handles.h"
#include "korvex/host/host.h"

class CData;

class Daten {
public:
    enum ErrorType : std::uint8_t {
        Ok = 0,  // also the index of the text "Unknown error!"
        WrongType = 1,
        DirectAccessNotAllowed = 2,
        ValueOutOfRange = 3,
        NotEnoughSpace = 4,
        FileNotFound = 5,
        HandleNotFound = 6,
        SyntaxError = 7,
        HandleExists = 8,
        KeyExists = 9,
        UnknownKey = 10,
        MissingKey = 11,
        UnknownParameter = 12,
        ParameterError = 13,
        CommandStringNotFound = 14,
        DataOrDriverError = 15,
    };

    static constexpr std::uint16_t kFirstRegisteredHandle = 15000;
    // Room for a full path; deployment directories are longer than the 80
    // characters a Windows host once gave this member.
    static constexpr std::size_t kCommandFileSize = 260;
    static constexpr std::size_t kTTkvFlags = 500;

    Daten(OWL::TWindow* parent, const char* datenName, const char* handleName);

    // Virtual operations, in slot order.
    virtual bool isSpotFacingMemUsed();
    virtual ~Daten();
    virtual std::uint8_t GetValue(std::uint16_t handle, std::int32_t& value,
                                  std::uint16_t index = 0, std::uint8_t axis = 255);
    virtual std::uint8_t GetValue(std::uint16_t handle, double& value, std::uint16_t index = 0,
                                  std::uint8_t axis = 255);
    virtual std::uint8_t GetValue(std::uint16_t handle, char* text, std::uint16_t size,
                                  std::uint16_t index = 0, std::uint8_t axis = 255);
    virtual std::uint8_t GetValue(std::uint16_t handle, const void* block, std::uint16_t size,
                                  std::uint16_t index, std::uint8_t axis);
    virtual std::uint8_t GetOfsValue(const void* buffer, std::uint32_t offset, std::uint16_t size);
    virtual std::uint8_t SetValue(std::uint16_t handle, std::int32_t value,
                                  std::uint16_t index = 0, std::uint8_t axis = 255,
                                  char direct = 0, char onlyIfChanged = 0);
    virtual std::uint8_t SetValue(std::uint16_t handle, double value, std::uint16_t index = 0,
                                  std::uint8_t axis = 255, char direct = 0);
    virtual std::uint8_t SetValue(std::uint16_t handle, const char* text,
                                  std::uint16_t index = 0, std::uint8_t axis = 255);
    virtual std::uint8_t SetValue(std::uint16_t handle, const void* block, std::uint16_t size,
                                  std::uint16_t index, std::uint8_t axis);
    virtual std::uint8_t SetOfsValue(const void* buffer, std::uint32_t offset, std::uint16_t size);
    virtual std::uint8_t InitInchMetricCnc47();
    virtual void CheckSpecialCommands(char* text);
    virtual std::uint8_t Comm(char* text, std::uint16_t handle, std::uint16_t index,
                              std::uint8_t flag);
    virtual char IsVisible(std::uint16_t handle);
    virtual TApplString& expandExeParams(TApplString& text);
    virtual int ErrorHalt(const char* text, const char* sourceFile, const unsigned int line);
    virtual int ErrorStop(const char* text);

    // Error reporting.
    void ErrorMessage(std::uint16_t handle, ErrorType error, bool optional = false);
    static const char* ErrorText(unsigned error);
    static void viewHelloMessage(TAppl* application, const char* text, std::uint16_t count);

    // Handle registry.
    // The last number a registration may take.
    static constexpr std::uint16_t kLastHandleNumber = 0xFFFE;
    // A registration past the last number still keeps the object, by name
    // only: it answers 0xFFFF and TakeUnnumberedName then gives the name
    // the object is kept under. Numbers are never reused or wrapped.
    std::uint16_t RegisterNewHandle(CData* object, const char* name, std::uint16_t& index);
    CData* GetCDataPtr(std::uint16_t handle);
    // Lowers (or restores) the last number registrations may take, so that
    // a large group of objects leaves numbers to the registrations after it.
    void SetLastNumber(std::uint16_t last) { mLastNumber = last; }
    // The name the last registration was kept under without a number
    // (cleared by the call), or nullptr.
    const char* TakeUnnumberedName() {
        const char* name = mLastUnnumbered;
        mLastUnnumbered = nullptr;
        return name;
    }
    // The data object registered under name, with or without a number;
    // nullptr when there is none.
    CData* FindRegistered(const char* name);
    std::size_t UnnumberedCount() const { return mUnnumbered.size(); }
    // Visits every object registered without a number, with the name it is
    // found by.
    template <typename Visit>
    void ForEachUnnumbered(Visit&& visit) const {
        for (const auto& [name, object] : mUnnumbered) visit(name, object);
    }
    void flush(const char* fileName);
    Handles* GetHandles() const { return mHandles; }

    // Definition table.
    // The record of a defined handle (type not 0), or nullptr.
    DInfo* ExistHandle(std::uint16_t handle) {
        if (handle >= mDefinitions.size()) return nullptr;
        DInfo* record = mDefinitions[handle];
        return record && record->mType != DInfo::NONE ? record : nullptr;
    }
    std::size_t DefinitionCount() const { return mDefinitions.size(); }
    // Puts record at handle, growing the table with empty records; the table
    // owns the record from now on.
    void SetDefinition(std::uint16_t handle, DInfo* record);
    void ClearDefinitions();

    // --- Value access and queries on the definition record (value_access.cpp).

    // The largest working text of the conversions (64 bytes with its zero).
    static constexpr std::size_t kTextBufferSize = 64;
    // The invalid-REAL marker: the smallest normal double.
    static constexpr double kInvalidReal = 2.2250738585072014e-308;

    // Reads or writes one bit of a BITMASK handle (write non-zero: value's
    // truth goes into the bit).
    std::uint8_t HandleBitMask(std::uint16_t handle, std::uint16_t bit, std::int32_t& value,
                               std::uint8_t axis, char write);
    // Widens a value read in the stored width of the handle's type.
    std::int32_t MinusCheck(std::int32_t value, std::uint16_t handle);
    // Writes the default of one handle, or of every defined handle (0xFFFF).
    void Default(char direct, std::uint16_t handle, std::uint16_t index);
    // Appends prefix, then selfText when name names handle, else the display
    // text of the handle that name names.
    // REQUIRES: out has room for prefix and the longer of selfText and 255
    // more characters.
    void CheckAndGetValue(std::uint16_t handle, std::uint16_t index, std::uint8_t axis,
                          const char* name, const char* selfText, char* out, const char* prefix);
    // As above into a buffer of outSize bytes; what does not fit is cut.
    void CheckAndGetValue(std::uint16_t handle, std::uint16_t index, std::uint8_t axis,
                          const char* name, const char* selfText, char* out, const char* prefix,
                          std::size_t outSize);
    // The 0-based magazine of a tool-table place (handles 330 and 1049).
    std::uint16_t getMagNr(std::uint16_t place);
    std::uint16_t GetMaxTabElemAnz(std::uint16_t handle);
    // The record of a defined handle, or the own record of a registered
    // object; nullptr when there is none.
    DInfo* ExistHandleAndGetInfo(std::uint16_t handle);
    // The same for reading: a registered object's shared record stays shared.
    const DInfo* FindRecord(std::uint16_t handle);
    // Puts object at a registered handle's place (a data object taking over
    // another one's handle); false when the handle has no place.
    bool SetCDataPtr(std::uint16_t handle, CData* object);
    std::uint16_t DatenTyp(std::uint16_t handle);
    std::uint16_t DatenLaenge(std::uint16_t handle);
    std::int32_t Min(std::uint16_t handle);
    std::int32_t Max(std::uint16_t handle);
    double RealMin(std::uint16_t handle);
    double RealMax(std::uint16_t handle);
    char DirectWrite(std::uint16_t handle);
    char InchMetr(std::uint16_t handle);
    short GetBasis(std::uint16_t handle);
    double UserFaktor(std::uint16_t handle);
    // The inch or metric unit text, as the handle is shown now; nullptr
    // when the handle has no record.
    const char* GetUnitString(std::uint16_t handle);
    std::uint8_t GetActFormat(std::uint16_t handle, std::uint8_t& width, std::uint8_t& decimals);
    std::uint8_t GetMetInchFormat(std::uint16_t handle, std::uint8_t& width,
                                  std::uint8_t& decimals, char metric);
    // 255 is the host's current axis.
    std::uint8_t Axis(std::uint8_t axis);

    // --- Number and text conversion (conversion.cpp).

    std::uint8_t Value2String(std::uint16_t handle, std::int32_t value, char* out,
                              std::uint16_t size);
    std::uint8_t Value2String(std::uint16_t handle, double value, char* out, std::uint16_t size);
    std::uint8_t String2Value(std::uint16_t handle, const char* text, std::int32_t& value);
    std::uint8_t String2Value(std::uint16_t handle, const char* text, double& value);
    // Digit text of a scaled integer.
    // REQUIRES: out holds kTextBufferSize bytes.
    static char* Bin2Str(std::int32_t value, char* out, short width, short decimals,
                         char leadingZeros, char isUnsigned, short base);
    // Scaled integer of a decimal text (at most 6 decimals).
    static std::int32_t Str2Bin(const char* text, short decimals);
    // Copies text when it fits width, else width stars (code 4); out holds
    // size bytes.
    static std::uint8_t CheckFeldWeite(const char* text, char* out, std::uint16_t size,
                                       std::uint16_t width);
    // Star text for the handle's not-valid value; false for any other value.
    bool NotValid(std::uint16_t handle, std::int32_t value, char* out, std::uint16_t size);
    // The same for a record shown in inch or metric.
    static bool NotValid(const DInfo& record, bool inch, std::int32_t value, char* out,
                         std::uint16_t size);
    // out becomes text cut before its first character that is not a digit,
    // '+', '-' or '.'.
    static void GetValidNumChars(const char* text, TApplString& out);
    static void HandleHexBin(char* text, short width, DInfo::DType type);

    // --- Inch/metric and feed-rate units (units.cpp).

    // The text the host frame gets with the unit-change notification.
    static const char kszUpdate[];

    void SetInchFlag1();
    void ClearInchFlag1();
    void ToggleInchFlag1();
    void SetInchFlag2();
    void ClearInchFlag2();
    void ToggleInchFlag2();
    void SetInchAll();
    void ClearInchAll();
    void ToggleInchAll();
    // Is the handle shown in inch now.
    bool CheckInch(std::uint16_t handle);
    // 1 or 2: the feed-rate mode of a feed-rate handle; 0 otherwise.
    std::uint8_t isTMET1_2Conversion(std::uint16_t handle);
    double getInchMetricFactor(std::uint16_t handle);
    // Adapts a feed-rate record to the feed-rate mode; true when it changed.
    bool HandleTMET1_2(std::uint16_t handle);
    std::uint8_t MetricValue2InchString(std::uint16_t handle, std::int32_t value, char* out,
                                        std::uint16_t size);
    std::uint8_t InchValue2MetricString(std::uint16_t handle, std::int32_t value, char* out,
                                        std::uint16_t size);

    // --- Commands: interpreter, value/flag/special commands, protocol (commands/).

    // Longest command line (without its terminating zero), and the longest
    // value-command template with the value appended.
    static constexpr std::size_t kCommandLineMax = 255;
    static constexpr std::size_t kValueTemplateMax = 127;

    // True when text, upper-cased, stripped of blanks, tabs and line ends and
    // without a leading "NO", begins with word.
    static bool hasCom(const char* text, const char* word);
    // True when the host frame forbids the feed command that text holds now.
    bool FAFVForbidden(const char* text);
    // Waits up to 500 ms for the command channel (583), logs the command and
    // writes it to the command line 581. 15 when the channel stayed busy.
    std::uint8_t CheckAndSendComm(char* const text, std::uint16_t index, std::uint8_t flag);
    // A value command: the text for a CommValue handle as a command line.
    std::uint8_t HandleCommVal(const char* text, std::uint16_t handle, std::uint16_t index,
                               std::uint8_t flag);
    // A flag command: the template of the value written, for a CommFlag handle.
    std::uint8_t HandleCommFlag(std::uint16_t handle, std::int32_t value, std::uint16_t index,
                                std::uint8_t flag);
    // One line of the host's protocol: "kind text1: text2" with the entry code.
    void WriteProtocol(TApplFrame* frame, const char* kind, const char* text1, const char* text2);
    // The last text given to the tool-parameter road (nullptr before the first).
    const char* LastCommandText() const { return mLastCommandText; }
    // The changed-by-user flag of a tool-conversion entry (handles 286 and 365)
    // and the summary flag.
    bool TTkvChangedByUser(std::uint16_t handle, std::uint16_t index) const {
        if (index >= kTTkvFlags) return false;
        if (handle == 286) return mTTkvChanged286[index] != 0;
        if (handle == 365) return mTTkvChanged365[index] != 0;
        return false;
    }
    bool TTkvChangedSummary() const { return mTTkvChangedSummary != 0; }
    // Marks a tool-conversion entry (handles 286 and 365) as changed by the user.
    void MarkTTkvChangedByUser(std::uint16_t handle, std::uint16_t index);

    // Small accessors.
    bool getMagazineService() const { return mMagazineService != 0; }
    void setMagazineService(bool on) { mMagazineService = on ? 1 : 0; }
    void clearTTkv_ChangedByUser();
    std::uint8_t ConstructionResult() const { return mConstructionResult; }
    // True when the definition table came from the definition cache.
    bool DefinitionsFromCache() const { return mDefinitionsFromCache; }
    // True when the definition file was parsed and its cache could not be
    // written because the directory is read-only.
    bool DefinitionCacheUnwritten() const { return mDefinitionCacheUnwritten; }
    // The definition cache's full name.
    const char* DefinitionCacheFile() const { return mszDefinitionCache; }
    // Writes the definition cache again from the table in memory (its owner
    // preparing a machine directory); false when it could not be written.
    bool RewriteDefinitionCache();
    std::uint8_t Cnc() const { return mCnc; }
    TDriver* Driver() const { return mDriver; }
    TApplFrame* Frame() const { return mFrame; }
    TAppl* Application() const { return mApplication; }
    bool DirectWriteMode() const { return mDirectWriteMode; }
    const char* CommandFile() const { return mszCommandFile; }
    std::size_t RegisteredCount() const { return mRegistered.size(); }

    // Message switches; set from outside the library only.
    void SetMessagesOn(bool on) { mMessagesOn = on ? 1 : 0; }
    bool MessagesOn() const { return mMessagesOn != 0; }
    void SetQuietForOptional(bool on) { mQuietOptional = on ? 1 : 0; }

    // Members, in declaration order.
    std::uint8_t mInchFlag1 = 0;
    std::uint8_t mInchFlag2 = 0;
    std::uint8_t mMagazineService = 0;
    std::uint8_t mCnc = 0;

protected:
    // Owns its records; slots without a definition hold an empty record.
    // Records read from the definition cache live in one block; the others
    // were allocated one by one.
    std::vector<DInfo*> mDefinitions;
    DInfoRun mDefinitionBlock;
    bool InDefinitionBlock(const DInfo* record) const;
    // Does not own the data objects.
    std::vector<CData*> mRegistered;
    // Registrations past the last number, by name (without regard to case).
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const;
    };
    struct NameEqual {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const;
    };
    std::unordered_map<std::string, CData*, NameHash, NameEqual> mUnnumbered;
    const char* mLastUnnumbered = nullptr;
    std::uint16_t mLastNumber = kLastHandleNumber;

public:
    std::uint8_t mZReverse = 0;
    std::int32_t mZReference = 0;
    std::uint8_t mConversionMode = 0;

protected:
    TAppl* mApplication = nullptr;
    TApplFrame* mFrame = nullptr;
    std::uint8_t mMessagesOn = 0;
    std::uint8_t mQuietOptional = 0;
    bool mDirectWriteMode = false;
    TDriver* mDriver = nullptr;
    Handles* mHandles = nullptr;
    char mszCommandFile[kCommandFileSize] = {};
    char* mLastCommandText = nullptr;
    std::uint8_t mConstructionResult = 0;
    bool mDefinitionsFromCache = false;
    bool mDefinitionCacheUnwritten = false;
    std::uint8_t mTTkvChanged286[kTTkvFlags] = {};
    std::uint8_t mTTkvChanged365[kTTkvFlags] = {};
    std::uint8_t mTTkvChangedSummary = 0;

    // Definition name and file paths found at construction.
    char mszDefinitionFile[260] = {};
    char mszDefinitionCache[260] = {};

    // Loads the definition table (cache or text); sets the construction result.
    void LoadDefinitions(OWL::TWindow* parent, const char* datenName);

private:
    // The roads of GetValue/SetValue (long) other than a plain numeric
    // handle read or written straight through the driver.
    std::uint8_t GetLongOtherRoads(std::uint16_t handle, std::int32_t& value, std::uint16_t index,
                                   std::uint8_t axis);
    std::uint8_t SetLongOtherRoads(std::uint16_t handle, std::int32_t value, std::uint16_t index,
                                   std::uint8_t axis, char direct, char onlyIfChanged);

    Daten(const Daten&) = delete;
    Daten& operator=(const Daten&) = delete;
};

// The exported entry points.
using DatenFactory = Daten* (*)(OWL::TWindow* parent, char* datenName, char* handleName,
                                TQzIniBase* ini);
Daten* InitKorvex(TQzIniBase* ini, OWL::TWindow* parent, DatenFactory factory);
Daten* NewDatenProc(OWL::TWindow* parent, char* datenName, char* handleName, TQzIniBase* ini);
void ShutDownKorvex(Daten* daten);

namespace korvex {
// The use count of a CNC's slot (for hosts and tests that check the table).
std::uint16_t InstanceUseCount(unsigned slot);
// Empties the instance table without destroying anything (a host that is
// reloaded calls it; objects still in the table are the host's concern).
void ResetInstanceTable();
}  // namespace korvex

#endif  // KORVEX_KORVEX_H_
