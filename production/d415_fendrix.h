#pragma once

#include "sqlitequery.h"

#include <QByteArray>
#include <QList>
#include <QTimer>
#include <QWidget>

class QCloseEvent;

/// The operator's single screen: one doser panel, the automatic and manual modes, the counters.
class D415_Fendrix : public QWidget
{
    Q_OBJECT
public:
    explicit D415_Fendrix(QWidget *parent = nullptr);
    ~D415_Fendrix() override;

public slots:
    void restoreLastSession();
    void stopAllWork();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void openDatabase();
    void runQuery(const QString &statement);
    void findCurrentButch();

    SqliteQuery m_query;
    int resultColumns = 0;
    int resultRows = 0;
    QList<QByteArray> resultValues;

    QTimer pollTimer;
    QTimer probeTimer;
    QTimer doseCycleTimer;

    qint64 idButch = 0;
};
