#pragma once
// FerrowManager: the study framework's manager. It answers which dataset the
// current trial shows and which lasso technique it uses. Our own code (the
// study runner, the free-exploration mode, tests) sets both.
//
// The two techniques of the design keep their own answers; any other
// technique is named (OtherTechnique), and GetTechniqueName gives every
// technique's name: "density", "cylinder", the other's, or "" for none.
#include <string>

class FerrowManager {
public:
    enum Technique { NoTechnique = 0, PravikTechnique = 1, CylinderTechnique = 2, OtherTechnique = 3 };

    static FerrowManager* Instance();
    static void Destroy();

    int GetCurrentDatasetNr() const { return currentDatasetNr; }
    bool IsPravikSelection() const { return technique == PravikTechnique; }
    bool IsCylinderSelection() const { return technique == CylinderTechnique; }
    // Called once by the program at start-up, after the condition is known.
    void PravikSelectionStart();

    // While a trial runs the study runner holds its dataset and technique
    // locked, so neither a key family nor a dataset switch can change what
    // the trial measures; the two setters below are ignored then.
    void SetCurrentDatasetNr(int nr) { if (!trialLocked) currentDatasetNr = nr; }
    void SetTechnique(Technique t) { if (!trialLocked) SetTechniqueOf(t, ""); }
    // By name: "density" and "cylinder" are the two of the design.
    void SetTechniqueName(const std::string& name) { if (!trialLocked) SetNamed(name); }
    Technique GetTechnique() const { return technique; }
    const std::string& GetTechniqueName() const { return techniqueName; }
    bool IsStarted() const { return started; }

    void LockTrial(int datasetNr, Technique t);
    void LockTrial(int datasetNr, const std::string& techniqueName);
    void UnlockTrial() { trialLocked = false; }
    bool IsTrialLocked() const { return trialLocked; }

private:
    FerrowManager() = default;
    static FerrowManager* instance;
    void SetTechniqueOf(Technique t, const std::string& otherName);
    void SetNamed(const std::string& name);
    int currentDatasetNr = 0;
    Technique technique = PravikTechnique;
    std::string techniqueName = "density";
    bool started = false;
    bool trialLocked = false;
};
