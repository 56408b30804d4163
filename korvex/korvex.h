// KORVEX: the data interface of a PC-based CNC drilling and routing control.
//
// A host obtains one Daten per CNC with InitKorvex and releases it with
// ShutDownKorvex. Through it every value of the machine is read and written
// by handle number or handle name.
#ifndef KORVEX_KORVEX_H_
#define KORVEX_KORVEX_H_

#include <cstddef>
#include <cstdint>
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
    std::uint16_t RegisterNewHandle(CData* object, const char* name, std::uint16_t& index);
    CData* GetCDataPtr(std::uint16_t handle);
    void flush(const char* fileName);
    Handles* GetHandles() const { return mHandles; }

    // Definition table.
    // The record of a defined handle (type not 0), or nullptr.
    DInfo* ExistHandle(std::uint16_t handle);
    std::size_t DefinitionCount() const { return mDefinitions.size(); }
    // Puts record at handle, growing the table with empty records; the table
    // owns the record from now on.
    void SetDefinition(std::uint16_t handle, DInfo* record);
    void ClearDefinitions();

    // --- Value access and queries on the definition record (value_access.cpp).

    // --- Number and text conversion (conversion.cpp).

    // --- Inch/metric and feed-rate units (units.cpp).

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

    // Small accessors.
    bool getMagazineService() const { return mMagazineService != 0; }
    void setMagazineService(bool on) { mMagazineService = on ? 1 : 0; }
    void clearTTkv_ChangedByUser();
    std::uint8_t ConstructionResult() const { return mConstructionResult; }
    // True when the definition table came from the definition cache.
    bool DefinitionsFromCache() const { return mDefinitionsFromCache; }
    std::uint8_t Cnc() const { return mCnc; }
    TDriver* Driver() const { return mDriver; }
    TApplFrame* Frame() const { return mFrame; }
    TAppl* Application() const { return mApplication; }
    bool DirectWriteMode() const { return mDirectWriteMode; }
    const char* CommandFile() const { return mszCommandFile; }
    std::size_t RegisteredCount() const { return mRegistered.size(); }

    // Message switches; set from outside the library only.
    void SetMessagesOn(bool on) { mMessagesOn = on ? 1 : 0; }
    void SetQuietForOptional(bool on) { mQuietOptional = on ? 1 : 0; }

    // Members, in declaration order.
    std::uint8_t mInchFlag1 = 0;
    std::uint8_t mInchFlag2 = 0;
    std::uint8_t mMagazineService = 0;
    std::uint8_t mCnc = 0;

protected:
    // Owns its records; slots without a definition hold an empty record.
    std::vector<DInfo*> mDefinitions;
    // Does not own the data objects.
    std::vector<CData*> mRegistered;

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
    std::uint8_t mTTkvChanged286[kTTkvFlags] = {};
    std::uint8_t mTTkvChanged365[kTTkvFlags] = {};
    std::uint8_t mTTkvChangedSummary = 0;

    // Definition name and file paths found at construction.
    char mszDefinitionFile[260] = {};
    char mszDefinitionCache[260] = {};

    // Loads the definition table (cache or text); sets the construction result.
    void LoadDefinitions(OWL::TWindow* parent, const char* datenName);

private:
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
