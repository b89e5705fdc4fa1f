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

    void SetCurrentDatasetNr(int nr) { currentDatasetNr = nr; }
    void SetTechnique(Technique t) { technique = t; }
    Technique GetTechnique() const { return technique; }
    bool IsStarted() const { return started; }

private:
    FerrowManager() = default;
    static FerrowManager* instance;
    int currentDatasetNr = 0;
    Technique technique = PravikTechnique;
    bool started = false;
};
