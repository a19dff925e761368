#include "cli/result_printer.h"

#include <algorithm>
#include <cmath>

#include "cli/display_text.h"
#include "common/cp1252.h"

namespace velquarn {

namespace {

bool IsNumeric(const TClientValue& value) {
  return value.Kind == TValueKind::kInteger || value.Kind == TValueKind::kFloat ||
         value.Kind == TValueKind::kDecimal;
}

// Control characters would break the table's lines: shown as blanks.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  return text;
}

// Aligned columns under a header, numbers right-aligned, NULLs as "NULL".
class TTablePrinter : public TResultPrinter {
 public:
  explicit TTablePrinter(std::ostream& out) : out_(out) {}

  void Begin(const std::vector<TColumnDef>& columns) override {
    for (const TColumnDef& column : columns) names_.push_back(OneLine(Cp1252ToUtf8(column.Name)));
    widths_.clear();
    for (const std::string& name : names_) widths_.push_back(DisplayWidth(name));
    header_done_ = false;
  }

  void Page(const std::vector<TClientRow>& rows) override {
    std::vector<std::vector<std::string>> cells;
    for (const TClientRow& row : rows) {
      std::vector<std::string> line;
      for (size_t i = 0; i < row.size(); ++i) {
        line.push_back(OneLine(DisplayValue(row[i], "NULL")));
        if (!header_done_ && i < widths_.size()) {
          widths_[i] = std::max(widths_[i], DisplayWidth(line.back()));
        }
      }
      cells.push_back(std::move(line));
    }
    if (!header_done_) PrintHeader();
    for (size_t r = 0; r < rows.size(); ++r) {
      for (size_t i = 0; i < cells[r].size() && i < widths_.size(); ++i) {
        out_ << (i == 0 ? " " : " | ");
        const size_t pad = widths_[i] - std::min(widths_[i], DisplayWidth(cells[r][i]));
        const bool right = IsNumeric(rows[r][i]);
        if (right) out_ << std::string(pad, ' ');
        out_ << cells[r][i];
        if (!right && i + 1 < cells[r].size()) out_ << std::string(pad, ' ');
      }
      out_ << '\n';
    }
    out_.flush();
  }

  void End(size_t row_count, bool cancelled) override {
    if (!header_done_) PrintHeader();
    out_ << '(' << row_count << (row_count == 1 ? " row" : " rows")
         << (cancelled ? ", reading stopped" : "") << ")\n";
    out_.flush();
  }

 private:
  void PrintHeader() {
    header_done_ = true;
    for (size_t i = 0; i < names_.size(); ++i) {
      out_ << (i == 0 ? " " : " | ") << names_[i];
      if (i + 1 < names_.size()) {
        out_ << std::string(widths_[i] - DisplayWidth(names_[i]), ' ');
      }
    }
    out_ << '\n';
    for (size_t i = 0; i < names_.size(); ++i) {
      out_ << (i == 0 ? "" : "+") << std::string(widths_[i] + 2, '-');
    }
    out_ << '\n';
  }

  std::ostream& out_;
  std::vector<std::string> names_;
  std::vector<size_t> widths_;
  bool header_done_ = false;
};

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// RFC 4180: a header line, then one line per row; NULL is an empty field.
class TCsvPrinter : public TResultPrinter {
 public:
  explicit TCsvPrinter(std::ostream& out) : out_(out) {}
  void Begin(const std::vector<TColumnDef>& columns) override {
    for (size_t i = 0; i < columns.size(); ++i) {
      out_ << (i ? "," : "") << CsvField(Cp1252ToUtf8(columns[i].Name));
    }
    out_ << "\r\n";
  }
  void Page(const std::vector<TClientRow>& rows) override {
    for (const TClientRow& row : rows) {
      for (size_t i = 0; i < row.size(); ++i) {
        out_ << (i ? "," : "") << CsvField(DisplayValue(row[i], ""));
      }
      out_ << "\r\n";
    }
    out_.flush();
  }
  void End(size_t, bool) override { out_.flush(); }

 private:
  std::ostream& out_;
};

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// One JSON array of objects per result; numbers and booleans bare, NULL
// null, bytes as hexadecimal strings, dates as ISO strings.
class TJsonPrinter : public TResultPrinter {
 public:
  explicit TJsonPrinter(std::ostream& out) : out_(out) {}
  void Begin(const std::vector<TColumnDef>& columns) override {
    names_.clear();
    for (const TColumnDef& column : columns)
      names_.push_back(JsonString(Cp1252ToUtf8(column.Name)));
    out_ << '[';
    first_ = true;
  }
  void Page(const std::vector<TClientRow>& rows) override {
    for (const TClientRow& row : rows) {
      out_ << (first_ ? "\n  {" : ",\n  {");
      first_ = false;
      for (size_t i = 0; i < row.size() && i < names_.size(); ++i) {
        out_ << (i ? ", " : "") << names_[i] << ": ";
        const TClientValue& value = row[i];
        switch (value.Kind) {
          case TValueKind::kNull:
            out_ << "null";
            break;
          case TValueKind::kInteger:
          case TValueKind::kDecimal:
          case TValueKind::kBoolean:
            out_ << value.ToString();
            break;
          case TValueKind::kFloat:
            out_ << (std::isfinite(value.Float) ? value.ToString() : JsonString(value.ToString()));
            break;
          default:
            out_ << JsonString(DisplayValue(value, ""));
        }
      }
      out_ << '}';
    }
    out_.flush();
  }
  void End(size_t, bool) override {
    out_ << (first_ ? "]\n" : "\n]\n");
    out_.flush();
  }

 private:
  std::ostream& out_;
  std::vector<std::string> names_;
  bool first_ = true;
};

}  // namespace

std::string DisplayValue(const TClientValue& value, const std::string& null_text) {
  if (value.Kind == TValueKind::kText) return Cp1252ToUtf8(value.Text);
  return value.ToString(null_text);
}

std::unique_ptr<TResultPrinter> MakeResultPrinter(TOutputFormat format, std::ostream& out) {
  switch (format) {
    case TOutputFormat::kCsv:
      return std::make_unique<TCsvPrinter>(out);
    case TOutputFormat::kJson:
      return std::make_unique<TJsonPrinter>(out);
    default:
      return std::make_unique<TTablePrinter>(out);
  }
}

}  // namespace velquarn
