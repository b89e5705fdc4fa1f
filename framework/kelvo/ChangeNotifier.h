#pragma once
// ChangeNotifier: the Qt object through which the visualization asks the view
// for an immediate repaint (a selection finished, a control moved).
#include <QObject>

class ChangeNotifier : public QObject {
    Q_OBJECT
public:
    explicit ChangeNotifier(QObject* parent = nullptr) : QObject(parent) {}
    void notify() { emit valueChanged(); }

signals:
    void valueChanged();
};
