#pragma once
// CSBSDK2EventHandler: receives board contacts. x and y are window pixels with
// the origin at the upper left, z the pressure (0 when the board has none),
// pointer carries the contact in bit 8 (see BoardDeviceReader). Everything
// but the three contact callbacks does nothing unless overridden.
class CSBSDK2EventHandler {
public:
    virtual ~CSBSDK2EventHandler() = default;

    virtual void OnXYDown(int x, int y, int z, int pointer) { (void)x; (void)y; (void)z; (void)pointer; }
    virtual void OnXYMove(int x, int y, int z, int pointer) { (void)x; (void)y; (void)z; (void)pointer; }
    virtual void OnXYUp(int x, int y, int z, int pointer) { (void)x; (void)y; (void)z; (void)pointer; }

    virtual void OnXYHover(int x, int y, int z, int pointer) { (void)x; (void)y; (void)z; (void)pointer; }
    virtual void OnXYNonProjectedDown(int x, int y, int z, int pointer) { (void)x; (void)y; (void)z; (void)pointer; }
    virtual void OnXYNonProjectedMove(int x, int y, int z, int pointer) { (void)x; (void)y; (void)z; (void)pointer; }
    virtual void OnXYNonProjectedUp(int x, int y, int z, int pointer) { (void)x; (void)y; (void)z; (void)pointer; }
    virtual void OnNoTool(int pointer) { (void)pointer; }
    virtual void OnPen(int pointer) { (void)pointer; }
    virtual void OnEraser(int pointer) { (void)pointer; }
    virtual void OnFinger(int pointer) { (void)pointer; }
    virtual void OnCircle(int pointer) { (void)pointer; }
    virtual void OnRectangle(int pointer) { (void)pointer; }
    virtual void OnLine(int pointer) { (void)pointer; }
    virtual void OnPrint(int pointer) { (void)pointer; }
    virtual void OnNext(int pointer) { (void)pointer; }
    virtual void OnPrevious(int pointer) { (void)pointer; }
    virtual void OnClear(int pointer) { (void)pointer; }
    virtual void OnBoardStatusChange() {}
};
