#pragma once
// FerrowManager: the study framework's manager. It answers which dataset the
// current trial shows and which lasso technique it uses. Our own code (the
// study runner, the free-exploration mode, tests) sets both.
class FerrowManager {
public:
    enum Technique { NoTechnique = 0, PravikTechnique = 1, CylinderTechnique = 2 };

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
    void SetTechnique(Technique t) { if (!trialLocked) technique = t; }
    Technique GetTechnique() const { return technique; }
    bool IsStarted() const { return started; }

    void LockTrial(int datasetNr, Technique t);
    void UnlockTrial() { trialLocked = false; }
    bool IsTrialLocked() const { return trialLocked; }

private:
    FerrowManager() = default;
    static FerrowManager* instance;
    int currentDatasetNr = 0;
    Technique technique = PravikTechnique;
    bool started = false;
    bool trialLocked = false;
};
