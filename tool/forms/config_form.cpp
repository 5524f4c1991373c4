#include "tool/forms/config_form.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "core/device/ecu_types.h"
#include "core/util/byte_stream.h"
#include "core/util/cp1252.h"
#include "core/util/exceptions.h"
#include "core/util/ini_file.h"
#include "core/util/number_format.h"

namespace qvl {
namespace {

constexpr const char* kSides[2] = {"Front", "Rear"};
constexpr const char* kPositionNames[6] = {"Normal standup position", "Upside down position",
                                           "Head up position",        "Head down position",
                                           "Left side position",      "Right side position"};
constexpr const char* kRotationNames[3] = {"Horizontal rotations", "Head up/down rotations",
                                           "Lateral rotations"};
constexpr const char* kColumnTitles[6] = {"Input",     "Name",          "Units",
                                          "Offset(V)", "Gain(Units/V)", "Rate"};
constexpr int kColumnWidths[6] = {88, 112, 60, 72, 100, 80};

QString FromModel(const std::string& text) {
  return QString::fromStdString(Cp1252ToUtf8(text));
}

std::string ToModel(const QString& text) {
  return Utf8ToCp1252(text.toStdString());
}

std::string FilePath(const QString& fileName) {
  return QFile::encodeName(fileName).toStdString();
}

QSpinBox* MakeSpin(const QString& name, int low, int high, int value, const QString& hint = {}) {
  auto* s = new QSpinBox;
  s->setRange(low, high);
  s->setValue(value);
  s->setAccessibleName(name);
  if (!hint.isEmpty()) s->setToolTip(hint);
  return s;
}

template <size_t N>
QComboBox* MakeRateList(const QString& name, const std::array<const char*, N>& texts) {
  auto* c = new QComboBox;
  for (const char* t : texts) c->addItem(t);
  c->setAccessibleName(name);
  c->setMaximumWidth(200);
  return c;
}

// The picture of a calibration position: the logger's box seen from the side with the axis
// that points up marked, and the direction of gravity.
QIcon PositionPicture(int position) {
  QPixmap pm(56, 56);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.translate(28, 28);
  // 0, 1: about the vertical axis; 2, 3: head up or down; 4, 5: on a side.
  const qreal angle[6] = {0, 180, -90, 90, 0, 0};
  p.save();
  p.rotate(angle[position]);
  const bool side = position >= 4;
  const QRectF box = side ? QRectF(-9, -16, 18, 32) : QRectF(-18, -9, 36, 18);
  p.setBrush(QColor(70, 110, 170));
  p.setPen(QPen(QColor(30, 40, 60), 1.5));
  p.drawRoundedRect(box, 3, 3);
  // The top face of the box in its normal position.
  p.setPen(QPen(QColor(250, 200, 60), 3));
  if (side)
    p.drawLine(QPointF(position == 4 ? -9 : 9, -14), QPointF(position == 4 ? -9 : 9, 14));
  else
    p.drawLine(QPointF(-16, -9), QPointF(16, -9));
  // The head (front) of the logger.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(230, 60, 50));
  if (!side) p.drawEllipse(QPointF(14, 0), 3, 3);
  p.restore();
  // Gravity.
  p.setPen(QPen(QColor(40, 40, 40), 1.5));
  p.drawLine(QPointF(23, 10), QPointF(23, 25));
  p.drawLine(QPointF(23, 25), QPointF(20, 20));
  p.drawLine(QPointF(23, 25), QPointF(26, 20));
  return QIcon(pm);
}

}  // namespace

TfrmConfig::TfrmConfig(TController& controller, TIniFile& settings, std::string compassFile,
                       std::function<void(const QString&)> showMessage, QWidget* parent)
    : QDialog(parent),
      controller_(controller),
      settings_(settings),
      compassFile_(std::move(compassFile)),
      showMessage_(std::move(showMessage)) {
  setObjectName("frmConfig");
  setWindowTitle(kCaption);
  setAccessibleName(kCaption);

  pages_ = new QTabWidget(this);
  pages_->setObjectName("pcPages");
  pages_->setAccessibleName("Pages");
  pages_->addTab(CreateSuspensionPage(), "Suspensions");
  pages_->addTab(CreateWheelPage(), "Wheels");
  pages_->addTab(CreateSensorPage(), "g/B sensors");
  pages_->addTab(CreateChannelPage(), "Custom channels");
  pages_->addTab(CreateCompassPage(), "eCompass");

  lblEstimate_ = new QLabel(this);
  lblEstimate_->setObjectName("lblMemory");
  lblEstimate_->setAccessibleName("Memory use");
  lblEstimate_->setToolTip("Flash memory used per hour of logging");
  auto button = [this](const QString& name, const QString& text, const QString& hint,
                       const QString& status = {}) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(name);
    b->setToolTip(hint);
    b->setStatusTip(status.isEmpty() ? hint : status);
    b->setAccessibleName(QString(text).remove('&'));
    b->setAutoDefault(false);
    return b;
  };
  btnLoad_ = button("btnLoad", "&Load...", "Load", "Loads an existing configuration file");
  btnLoad_->setShortcut(QKeySequence("Ctrl+L"));
  btnSaveAs_ =
      button("btnSaveAs", "Save &As...", "Save As", "Saves the on-screen configuration in a file");
  btnApply_ = button("btnApply", "Apply", "Apply changes and close this window");
  btnCancel_ = button("btnCancel", "Cancel",
                      "Close this window, discarding changes made while it was open.");
  connect(btnLoad_, &QPushButton::clicked, this, &TfrmConfig::LoadDialog);
  connect(btnSaveAs_, &QPushButton::clicked, this, &TfrmConfig::SaveDialog);
  connect(btnApply_, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel_, &QPushButton::clicked, this, &QDialog::reject);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(new QLabel("Memory use:", this));
  bottom->addWidget(lblEstimate_, 1);
  for (QPushButton* b : {btnLoad_, btnSaveAs_, btnApply_, btnCancel_}) bottom->addWidget(b);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pages_, 1);
  layout->addLayout(bottom);
  for (QLabel* l : findChildren<QLabel*>())
    if (l->accessibleName().isEmpty()) l->setAccessibleName(l->text());
  FillWidgets();
}

TfrmConfig::~TfrmConfig() {
  if (listening_) controller_.RemoveListener(this);
}

// --- pages -----------------------------------------------------------------------------------

QWidget* TfrmConfig::CreateSuspensionPage() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  auto* sides = new QHBoxLayout;
  for (int s = 0; s < 2; ++s) {
    const QString side = kSides[s];
    auto* g = new QGroupBox(side, page);
    g->setAccessibleName(side);
    auto* form = new QFormLayout(g);
    edTravel_[size_t(s)] = MakeSpin(side + " suspension travel (mm)", 10, 500, s == 0 ? 254 : 150);
    edMechanical_[size_t(s)] = MakeSpin(side + " mechanical range (mm)", 10, 500, 254,
                                        "Sensor displacement from upper stop to lower stop");
    edPercent_[size_t(s)] =
        MakeSpin(side + " % of electrical range", 10, 100, 95,
                 "Fraction of total electrical variation for the given mechanical range (95% is "
                 "a good guess value if unknown)");
    form->addRow("Suspension travel (mm)", edTravel_[size_t(s)]);
    auto* mechanical = new QLabel(" Mechanical range (mm)");
    mechanical->setToolTip(edMechanical_[size_t(s)]->toolTip());
    form->addRow(mechanical, edMechanical_[size_t(s)]);
    auto* percent = new QLabel("% of electrical range");
    percent->setToolTip(edPercent_[size_t(s)]->toolTip());
    form->addRow(percent, edPercent_[size_t(s)]);
    lblFullExtension_[size_t(s)] = new QLabel;
    lblFullExtension_[size_t(s)]->setAccessibleName(side + " sensor position at full extension");
    form->addRow("Sensor position at full extension", lblFullExtension_[size_t(s)]);
    lblCurrent_[size_t(s)] = new QLabel;
    lblCurrent_[size_t(s)]->setAccessibleName(side + " current sensor position");
    form->addRow("Current sensor position:", lblCurrent_[size_t(s)]);
    auto* record = new QPushButton("Record as value at full extension");
    record->setObjectName(s == 0 ? "btnRecordFront" : "btnRecordRear");
    record->setAccessibleName(side + " record as value at full extension");
    record->setToolTip("Take the current sensor position as the position at full extension");
    record->setEnabled(false);
    btnRecord_[size_t(s)] = record;
    form->addRow(record);
    connect(record, &QPushButton::clicked, this, [this, s] {
      editor_.RecordFullExtension(s);
      lblFullExtension_[size_t(s)]->setText(
          FromModel(PositionText(editor_.fullExtension[size_t(s)])));
      MarkModified();
    });
    for (QSpinBox* spin : {edTravel_[size_t(s)], edMechanical_[size_t(s)], edPercent_[size_t(s)]})
      connect(spin, &QSpinBox::valueChanged, this, &TfrmConfig::FieldChanged);
    sides->addWidget(g);
  }
  layout->addLayout(sides);
  auto* rate = new QFormLayout;
  cbSuspensionRate_ = MakeRateList("Suspension logging rate:", kRateTexts);
  cbSuspensionRate_->setObjectName("cbSuspensionRate");
  rate->addRow("Suspension logging rate:", cbSuspensionRate_);
  connect(cbSuspensionRate_, &QComboBox::currentIndexChanged, this, &TfrmConfig::FieldChanged);
  layout->addLayout(rate);
  layout->addStretch(1);
  return page;
}

QWidget* TfrmConfig::CreateWheelPage() {
  auto* page = new QWidget;
  auto* layout = new QHBoxLayout(page);
  for (int s = 0; s < 2; ++s) {
    const QString side = kSides[s];
    auto* g = new QGroupBox(side + " wheel", page);
    g->setAccessibleName(side + " wheel");
    auto* form = new QFormLayout(g);
    edTeeth_[size_t(s)] = MakeSpin(side + " number of teeth", 1, 60, 8);
    edDiameter_[size_t(s)] = MakeSpin(side + " diameter (mm)", 125, 1250, 711);
    edCircumference_[size_t(s)] = MakeSpin(side + " circumf. (mm)", 300, 4000, 2234);
    form->addRow("Number of teeth", edTeeth_[size_t(s)]);
    form->addRow("Diameter (mm)", edDiameter_[size_t(s)]);
    form->addRow("Circumf. (mm)", edCircumference_[size_t(s)]);
    connect(edTeeth_[size_t(s)], &QSpinBox::valueChanged, this, &TfrmConfig::FieldChanged);
    connect(edDiameter_[size_t(s)], &QSpinBox::valueChanged, this,
            [this, s] { CoupleWheel(s, true); });
    connect(edCircumference_[size_t(s)], &QSpinBox::valueChanged, this,
            [this, s] { CoupleWheel(s, false); });
    layout->addWidget(g, 0, Qt::AlignTop);
  }
  return page;
}

QWidget* TfrmConfig::CreateSensorPage() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  auto* positions = new QGroupBox("Calibration positions", page);
  positions->setAccessibleName("Calibration positions");
  auto* grid = new QGridLayout(positions);
  for (int i = 0; i < 6; ++i) {
    auto* b = new QToolButton(positions);
    b->setObjectName(QString("btnPosition%1").arg(i));
    b->setIcon(PositionPicture(i));
    b->setIconSize(QSize(56, 56));
    b->setText(kPositionNames[i]);
    b->setToolTip(
        QString("Store the sensor readings of the %1").arg(QString(kPositionNames[i]).toLower()));
    b->setAccessibleName(kPositionNames[i]);
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    connect(b, &QToolButton::clicked, this, [this, i] {
      editor_.RecordPosition(i, controller_);
      MarkModified();
    });
    btnPosition_[size_t(i)] = b;
    grid->addWidget(b, i / 3, i % 3);
  }
  layout->addWidget(positions);

  auto* values = new QHBoxLayout;
  values->addWidget(new QLabel("Current sensor values (g):"));
  const char* axes[3] = {"X", "Y", "Z"};
  for (int a = 0; a < 3; ++a) {
    values->addWidget(new QLabel(axes[a]));
    lblAccel_[size_t(a)] = new QLabel;
    lblAccel_[size_t(a)]->setMinimumWidth(64);
    lblAccel_[size_t(a)]->setAccessibleName(QString("Current %1 value").arg(axes[a]));
    values->addWidget(lblAccel_[size_t(a)]);
  }
  values->addStretch(1);
  layout->addLayout(values);

  auto* rates = new QFormLayout;
  cbGSensorRate_ = MakeRateList("g Sensors Data Rate", kRateTexts);
  cbGSensorRate_->setObjectName("cbGSensorRate");
  cbMagRate_ = MakeRateList("Magnetic Compass Data Rate", kMagRateTexts);
  cbMagRate_->setObjectName("cbMagRate");
  rates->addRow("g Sensors Data Rate", cbGSensorRate_);
  rates->addRow("Magnetic Compass Data Rate", cbMagRate_);
  for (QComboBox* c : {cbGSensorRate_, cbMagRate_})
    connect(c, &QComboBox::currentIndexChanged, this, &TfrmConfig::FieldChanged);
  layout->addLayout(rates);
  layout->addStretch(1);
  return page;
}

QWidget* TfrmConfig::CreateChannelPage() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  grid_ = new QTableWidget(0, 6, page);
  grid_->setObjectName("lvChannels");
  grid_->setAccessibleName("Custom channels");
  grid_->verticalHeader()->setVisible(false);
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid_->setSelectionMode(QAbstractItemView::SingleSelection);
  grid_->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid_->horizontalHeader()->setHighlightSections(false);
  for (int c = 0; c < 6; ++c) {
    grid_->setHorizontalHeaderItem(c, new QTableWidgetItem(kColumnTitles[c]));
    grid_->setColumnWidth(c, kColumnWidths[c]);
  }
  grid_->verticalHeader()->setDefaultSectionSize(grid_->fontMetrics().height() + 8);
  int width = 2 * grid_->frameWidth() + grid_->verticalScrollBar()->sizeHint().width();
  for (int w : kColumnWidths) width += w;
  grid_->setMinimumWidth(width);
  grid_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  grid_->setCornerButtonEnabled(false);
  for (QAbstractButton* corner : grid_->findChildren<QAbstractButton*>())
    corner->setAccessibleName("Corner");
  grid_->viewport()->installEventFilter(this);
  grid_->installEventFilter(this);
  connect(grid_, &QTableWidget::cellClicked, this,
          [this](int row, int) { OpenCellEditor(row, editColumn_); });
  connect(grid_, &QTableWidget::cellDoubleClicked, this,
          [this](int row, int) { OpenCellEditor(row, editColumn_); });

  edCell_ = new QLineEdit(grid_->viewport());
  edCell_->setObjectName("edCell");
  edCell_->setAccessibleName("Cell editor");
  edCell_->hide();
  edCell_->installEventFilter(this);
  cbCellRate_ = MakeRateList("Rate editor", kCustomRateTexts);
  cbCellRate_->setParent(grid_->viewport());
  cbCellRate_->setObjectName("cbCellRate");
  cbCellRate_->hide();
  cbCellRate_->installEventFilter(this);
  layout->addWidget(grid_);
  auto* hint = new QLabel(
      "Click a cell to edit it; Enter stores it, Ctrl+Left and Ctrl+Right move between "
      "columns, Up and Down between rows.");
  hint->setWordWrap(true);
  layout->addWidget(hint);
  return page;
}

QWidget* TfrmConfig::CreateCompassPage() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  auto* g = new QGroupBox("Compass calibration samples", page);
  g->setAccessibleName("Compass calibration samples");
  auto* grid = new QGridLayout(g);
  for (int k = 0; k < 3; ++k) {
    auto* b = new QPushButton(kRotationNames[k], g);
    b->setObjectName(QString("btnRotation%1").arg(k));
    b->setAccessibleName(kRotationNames[k]);
    b->setToolTip("Store the current magnetometer reading as the next sample of this rotation");
    b->setMinimumWidth(b->sizeHint().width() + 24);
    auto* count = new QLabel("0", g);
    count->setAccessibleName(QString(kRotationNames[k]) + " count");
    count->setMinimumWidth(40);
    grid->addWidget(b, k, 0);
    grid->addWidget(count, k, 1);
    connect(b, &QPushButton::clicked, this, [this, k] {
      lblRotationCount_[size_t(k)]->setNum(editor_.AddCompassSample(k, controller_));
      MarkModified();
    });
    btnRotation_[size_t(k)] = b;
    lblRotationCount_[size_t(k)] = count;
  }
  grid->setColumnStretch(2, 1);
  layout->addWidget(g);
  auto* files = new QHBoxLayout;
  auto* save = new QPushButton("Save", page);
  save->setObjectName("btnSaveCompass");
  save->setAccessibleName("Save");
  save->setToolTip("Save the compass samples");
  save->setAutoDefault(false);
  auto* load = new QPushButton("Load", page);
  load->setObjectName("btnLoadCompass");
  load->setAccessibleName("Load");
  load->setToolTip("Load the compass samples saved last");
  load->setAutoDefault(false);
  connect(save, &QPushButton::clicked, this, &TfrmConfig::SaveCompassSamples);
  connect(load, &QPushButton::clicked, this, &TfrmConfig::LoadCompassSamples);
  files->addWidget(save);
  files->addWidget(load);
  files->addStretch(1);
  layout->addLayout(files);
  auto* hint = new QLabel(
      "Take four samples of each rotation; the calibration is computed on Apply when all "
      "three rotations have four samples. A fifth sample starts the rotation afresh.");
  hint->setWordWrap(true);
  layout->addWidget(hint);
  layout->addStretch(1);
  return page;
}

// --- open and close --------------------------------------------------------------------------

bool TfrmConfig::Execute() {
  Open();
  exec();
  return Finish();
}

void TfrmConfig::Open() {
  applied_ = false;
  editor_.Fill(controller_);
  editor_.modified = false;
  editor_.sensorsChanged = false;
  FillWidgets();
  if (!listening_) controller_.AddListener(this);
  listening_ = true;
  const long long page = settings_.ReadInteger("Config", "Page", 0);
  if (page >= 0 && page < pages_->count()) pages_->setCurrentIndex(int(page));
}

bool TfrmConfig::Finish() {
  settings_.WriteInteger("Config", "Page", pages_->currentIndex());
  if (listening_) controller_.RemoveListener(this);
  listening_ = false;
  return applied_;
}

void TfrmConfig::done(int result) {
  // A close while a cell is being edited stores the cell instead.
  if (CellEditorOpen()) {
    CommitCellEditor();
    return;
  }
  if (result == QDialog::Accepted && editor_.modified && !Apply(controller_)) return;
  QDialog::done(result);
}

bool TfrmConfig::Apply(TController& target) {
  try {
    // The block (with the compass fit) is built before anything reaches the controller.
    editor_.BuildBlock();
  } catch (const std::exception& e) {
    ShowMessage(FromModel(e.what()));
    return false;
  }
  applied_ = true;
  try {
    editor_.ApplyTo(target);
  } catch (const std::exception& e) {
    // The controller holds the new configuration; only the burn failed.
    ShowMessage(FromModel(e.what()));
  }
  editor_.modified = false;
  editor_.sensorsChanged = false;
  btnApply_->setEnabled(false);
  return true;
}

void TfrmConfig::ControllerChanged(TController* controller, uint8_t flags) {
  if (controller != &controller_) return;
  if ((flags & kChangeConnection) && controller_.Connected()) {
    CloseCellEditor();
    editor_.Fill(controller_);
    editor_.modified = false;
    editor_.sensorsChanged = false;
    FillWidgets();
  }
  if (flags & kChangeValues) RefreshLive();
}

// --- showing the editor's copy ---------------------------------------------------------------

void TfrmConfig::FillWidgets() {
  loading_ = true;
  const TConfigFields& f = editor_.fields;
  for (size_t s = 0; s < 2; ++s) {
    edTravel_[s]->setValue(f.travel[s]);
    edMechanical_[s]->setValue(f.mechanicalRange[s]);
    edPercent_[s]->setValue(f.percent[s]);
    edTeeth_[s]->setValue(f.teeth[s]);
    edDiameter_[s]->setValue(f.diameter[s]);
    edCircumference_[s]->setValue(f.circumference[s]);
    lblFullExtension_[s]->setText(FromModel(PositionText(editor_.fullExtension[s])));
  }
  cbSuspensionRate_->setCurrentIndex(f.suspensionRate);
  cbGSensorRate_->setCurrentIndex(f.gSensorRate);
  cbMagRate_->setCurrentIndex(f.magRate);
  for (size_t k = 0; k < 3; ++k) lblRotationCount_[k]->setNum(editor_.compassCount[k]);
  RefreshGrid();
  RefreshEstimate();
  btnApply_->setEnabled(editor_.modified);
  loading_ = false;
}

void TfrmConfig::RefreshGrid() {
  grid_->setRowCount(int(editor_.rows.size()));
  for (int r = 0; r < grid_->rowCount(); ++r)
    for (int c = 0; c < 6; ++c) {
      const QString text = FromModel(editor_.rows[size_t(r)].cells[size_t(c)]);
      QTableWidgetItem* item = grid_->item(r, c);
      if (!item) {
        item = new QTableWidgetItem;
        grid_->setItem(r, c, item);
      }
      if (item->text() != text) item->setText(text);
    }
}

void TfrmConfig::RefreshLive() {
  editor_.ReadLive(controller_);
  for (size_t s = 0; s < 2; ++s) {
    btnRecord_[s]->setEnabled(true);
    lblCurrent_[s]->setText(FromModel(PositionText(editor_.current[s])));
  }
  for (int a = 0; a < 3; ++a) {
    const float g = controller_.GetValueIn(kParamXAccel + a, kUnitG);
    lblAccel_[size_t(a)]->setText(std::isfinite(g) ? QString::asprintf("%.2f g", g) : QString());
  }
}

void TfrmConfig::RefreshEstimate() {
  lblEstimate_->setText(FromModel(MemoryEstimateText(editor_.DataRate())));
}

void TfrmConfig::MarkModified() {
  editor_.modified = true;
  btnApply_->setEnabled(true);
}

void TfrmConfig::FieldChanged() {
  if (loading_) return;
  TConfigFields& f = editor_.fields;
  for (size_t s = 0; s < 2; ++s) {
    f.travel[s] = edTravel_[s]->value();
    f.mechanicalRange[s] = edMechanical_[s]->value();
    f.percent[s] = edPercent_[s]->value();
    f.teeth[s] = edTeeth_[s]->value();
    f.diameter[s] = edDiameter_[s]->value();
    f.circumference[s] = edCircumference_[s]->value();
  }
  f.suspensionRate = cbSuspensionRate_->currentIndex();
  f.gSensorRate = cbGSensorRate_->currentIndex();
  f.magRate = cbMagRate_->currentIndex();
  MarkModified();
  RefreshEstimate();
}

void TfrmConfig::CoupleWheel(int side, bool fromDiameter) {
  if (loading_) return;
  if (!coupling_) {
    // The other field follows; its own change does not echo back.
    coupling_ = true;
    if (fromDiameter)
      edCircumference_[size_t(side)]->setValue(
          CircumferenceOfDiameter(edDiameter_[size_t(side)]->value()));
    else
      edDiameter_[size_t(side)]->setValue(
          DiameterOfCircumference(edCircumference_[size_t(side)]->value()));
    coupling_ = false;
  }
  FieldChanged();
}

// --- custom channel cells --------------------------------------------------------------------

bool TfrmConfig::CellEditorOpen() const {
  return editRow_ >= 0;
}

QWidget* TfrmConfig::CellEditor() const {
  if (!CellEditorOpen()) return nullptr;
  return editColumn_ == kColRate ? static_cast<QWidget*>(cbCellRate_) : edCell_;
}

void TfrmConfig::OpenCellEditor(int row, int column) {
  if (CellEditorOpen() && !CommitCellEditor()) return;
  if (row < 0 || row >= grid_->rowCount()) return;
  column = std::clamp(column, 1, 5);
  editRow_ = row;
  editColumn_ = column;
  grid_->selectRow(row);
  grid_->scrollToItem(grid_->item(row, column));
  const QRect cell(grid_->columnViewportPosition(column) - 2, grid_->rowViewportPosition(row) - 2,
                   grid_->columnWidth(column) + 4, grid_->rowHeight(row) + 4);
  const QString text = FromModel(editor_.rows[size_t(row)].cells[size_t(column)]);
  QWidget* editor = CellEditor();
  if (column == kColRate) {
    cbCellRate_->setCurrentIndex(CustomRateIndexOfText(ToModel(text)));
  } else {
    edCell_->setText(text);
    edCell_->selectAll();
  }
  editor->setGeometry(cell);
  editor->show();
  editor->raise();
  editor->setFocus();
}

bool TfrmConfig::CommitCellEditor() {
  if (!CellEditorOpen()) return true;
  const size_t row = size_t(editRow_);
  try {
    if (editColumn_ == kColRate)
      editor_.CommitRate(row, cbCellRate_->currentIndex());
    else
      editor_.CommitText(row, editColumn_, ToModel(edCell_->text()));
  } catch (const std::exception& e) {
    ShowMessage(FromModel(e.what()));
    if (QWidget* editor = CellEditor()) editor->setFocus();
    return false;
  }
  CloseCellEditor();
  RefreshGrid();
  RefreshEstimate();
  btnApply_->setEnabled(editor_.modified);
  return true;
}

void TfrmConfig::CloseCellEditor() {
  if (!CellEditorOpen()) return;
  QWidget* editor = CellEditor();
  editRow_ = -1;
  editor->hide();
  grid_->setFocus();
}

bool TfrmConfig::CellEditorKey(QKeyEvent* key) {
  const bool ctrl = key->modifiers() & Qt::ControlModifier;
  const bool rateList = editColumn_ == kColRate;
  int row = editRow_, column = editColumn_;
  switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      CommitCellEditor();
      return true;
    case Qt::Key_Escape:
      CloseCellEditor();
      return true;
    case Qt::Key_Left:
      if (!ctrl) return false;
      column = std::max(1, column - 1);
      break;
    case Qt::Key_Right:
      if (!ctrl || rateList) return false;
      column = std::min(5, column + 1);
      break;
    case Qt::Key_Up:
    case Qt::Key_Down:
      // The rate list keeps plain Up and Down for its entries.
      if (rateList && !ctrl) return false;
      row = std::clamp(row + (key->key() == Qt::Key_Up ? -1 : 1), 0, grid_->rowCount() - 1);
      break;
    default:
      return false;
  }
  if (CommitCellEditor()) OpenCellEditor(row, column);
  return true;
}

bool TfrmConfig::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == edCell_ || watched == cbCellRate_) && event->type() == QEvent::KeyPress &&
      CellEditorOpen())
    return CellEditorKey(static_cast<QKeyEvent*>(event));
  if (watched == grid_->viewport() && event->type() == QEvent::MouseButtonPress) {
    // The column under the pointer, counted over the column widths.
    std::vector<int> widths;
    for (int c = 0; c < grid_->columnCount(); ++c) widths.push_back(grid_->columnWidth(c));
    const int x = static_cast<QMouseEvent*>(event)->position().toPoint().x() +
                  grid_->horizontalScrollBar()->value();
    if (CellEditorOpen() && !CommitCellEditor()) return true;
    editColumn_ = ColumnAtX(widths, x);
  }
  if (watched == grid_ && event->type() == QEvent::KeyPress && !CellEditorOpen()) {
    const int k = static_cast<QKeyEvent*>(event)->key();
    if ((k == Qt::Key_Return || k == Qt::Key_Enter || k == Qt::Key_F2) &&
        grid_->currentRow() >= 0) {
      OpenCellEditor(grid_->currentRow(), editColumn_);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

// --- files -----------------------------------------------------------------------------------

void TfrmConfig::LoadDialog() {
  QFileDialog dialog(this, "Load", QString(), kFileFilter);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
    LoadConfiguration(dialog.selectedFiles().first());
}

void TfrmConfig::SaveDialog() {
  QFileDialog dialog(this, "Save As", QString(), kFileFilter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix("QVLcf");
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
    SaveConfiguration(dialog.selectedFiles().first());
}

bool TfrmConfig::LoadConfiguration(const QString& fileName) {
  CloseCellEditor();
  try {
    TController scratch;
    scratch.LoadFromFile(FilePath(fileName));
    editor_.Fill(scratch);
  } catch (const std::exception& e) {
    ShowMessage(FromModel(e.what()));
    return false;
  }
  editor_.sensorsChanged = true;
  editor_.modified = true;
  FillWidgets();
  return true;
}

bool TfrmConfig::SaveConfiguration(const QString& fileName) {
  const bool applyEnabled = btnApply_->isEnabled();
  const bool modified = editor_.modified;
  const bool sensorsChanged = editor_.sensorsChanged;
  editor_.sensorsChanged = true;
  bool saved = false;
  try {
    TController scratch;
    editor_.ApplyTo(scratch);
    scratch.SaveToFile(FilePath(fileName));
    saved = true;
  } catch (const std::exception& e) {
    ShowMessage(FromModel(e.what()));
  }
  editor_.modified = modified;
  editor_.sensorsChanged = sensorsChanged;
  btnApply_->setEnabled(applyEnabled);
  return saved;
}

void TfrmConfig::SaveCompassSamples() {
  try {
    TFileStream file(compassFile_, TFileStream::Create);
    file.WriteBytes(CompassSampleBytes(editor_.compass));
    file.Close();
  } catch (const std::exception& e) {
    ShowMessage(FromModel(e.what()));
  }
}

void TfrmConfig::LoadCompassSamples() {
  try {
    TMemoryStream file;
    file.LoadFromFile(compassFile_);
    editor_.LoadCompassSamples(CompassSamplesOfBytes(file.Bytes()));
  } catch (const std::exception& e) {
    ShowMessage(FromModel(e.what()));
    return;
  }
  for (size_t k = 0; k < 3; ++k) lblRotationCount_[k]->setNum(editor_.compassCount[k]);
  MarkModified();
}

void TfrmConfig::ShowMessage(const QString& text) {
  if (showMessage_)
    showMessage_(text);
  else
    QMessageBox::critical(this, windowTitle(), text);
}

}  // namespace qvl
