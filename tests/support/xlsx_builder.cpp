#include "support/xlsx_builder.h"

#include <zlib.h>

#include <cstdio>
#include <stdexcept>

namespace tabulon::test {

namespace {

void put16(std::string& out, std::uint16_t v) {
  out += static_cast<char>(v & 0xff);
  out += static_cast<char>(v >> 8);
}

void put32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
}

}  // namespace

std::string deflateRaw(const std::string& bytes) {
  z_stream z{};
  if (deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2 failed");
  std::string out(deflateBound(&z, bytes.size()) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  int rc = deflate(&z, Z_FINISH);
  deflateEnd(&z);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate failed");
  out.resize(z.total_out);
  return out;
}

std::string zipBytes(const std::vector<Member>& members) {
  std::string body;
  std::string directory;
  for (const Member& m : members) {
    std::string data = m.stored ? m.bytes : deflateRaw(m.bytes);
    std::uint16_t method = m.method.value_or(m.stored ? 0 : 8);
    std::uint32_t crc = m.crc32.value_or(static_cast<std::uint32_t>(
        ::crc32(0L, reinterpret_cast<const Bytef*>(m.bytes.data()), static_cast<uInt>(m.bytes.size()))));
    std::uint32_t csize = m.compressedSize.value_or(static_cast<std::uint32_t>(data.size()));
    std::uint32_t usize = m.uncompressedSize.value_or(static_cast<std::uint32_t>(m.bytes.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(body.size());

    put32(body, 0x04034b50);
    put16(body, 20);
    put16(body, m.flags);
    put16(body, method);
    put16(body, 0);       // time
    put16(body, 0x21);    // date: 1980-01-01
    put32(body, crc);
    put32(body, csize);
    put32(body, usize);
    put16(body, static_cast<std::uint16_t>(m.name.size()));
    put16(body, 0);
    body += m.name;
    body += data;

    put32(directory, 0x02014b50);
    put16(directory, 0x031e);  // made by: unix, 3.0
    put16(directory, 20);
    put16(directory, m.flags);
    put16(directory, method);
    put16(directory, 0);
    put16(directory, 0x21);
    put32(directory, crc);
    put32(directory, csize);
    put32(directory, usize);
    put16(directory, static_cast<std::uint16_t>(m.name.size()));
    put16(directory, 0);  // extra
    put16(directory, 0);  // comment
    put16(directory, 0);  // disk
    put16(directory, 0);  // internal attributes
    put32(directory, m.externalAttributes);
    put32(directory, offset);
    directory += m.name;
  }
  std::string out = body + directory;
  put32(out, 0x06054b50);
  put16(out, 0);
  put16(out, 0);
  put16(out, static_cast<std::uint16_t>(members.size()));
  put16(out, static_cast<std::uint16_t>(members.size()));
  put32(out, static_cast<std::uint32_t>(directory.size()));
  put32(out, static_cast<std::uint32_t>(body.size()));
  put16(out, 0);
  return out;
}

void writeZip(const std::string& path, const std::vector<Member>& members) {
  std::string bytes = zipBytes(members);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) throw std::runtime_error("cannot write " + path);
  std::size_t written = std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  if (written != bytes.size()) throw std::runtime_error("short write to " + path);
}

std::string xmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string worksheet(const std::string& dimension, const std::string& rows) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
      "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">";
  if (!dimension.empty()) xml += "<dimension ref=\"" + dimension + "\"/>";
  xml += "<sheetData>" + rows + "</sheetData></worksheet>";
  return xml;
}

std::vector<Member> Workbook::members() const {
  const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
  std::vector<Member> out;

  std::string types = head +
      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
      "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
      "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
      "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>";
  for (std::size_t i = 0; i < sheets.size(); ++i)
    types += "<Override PartName=\"/xl/worksheets/sheet" + std::to_string(i + 1) +
             ".xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
  types += "</Types>";
  out.push_back({"[Content_Types].xml", types});

  out.push_back({"_rels/.rels", head +
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" Target=\"xl/workbook.xml\"/>"
      "</Relationships>"});

  std::string workbook = head +
      "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
      "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">";
  if (date1904) workbook += "<workbookPr date1904=\"1\"/>";
  workbook += "<sheets>";
  std::string rels = head + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  const std::string relType = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
  for (std::size_t i = 0; i < sheets.size(); ++i) {
    std::string n = std::to_string(i + 1);
    workbook += "<sheet name=\"" + xmlEscape(sheets[i].first) + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
    rels += "<Relationship Id=\"rId" + n + "\" Type=\"" + relType + "worksheet\" Target=\"worksheets/sheet" + n + ".xml\"/>";
  }
  workbook += "</sheets></workbook>";
  std::size_t next = sheets.size() + 1;
  if (!sharedStrings.empty())
    rels += "<Relationship Id=\"rId" + std::to_string(next++) + "\" Type=\"" + relType + "sharedStrings\" Target=\"sharedStrings.xml\"/>";
  if (!cellXfs.empty())
    rels += "<Relationship Id=\"rId" + std::to_string(next++) + "\" Type=\"" + relType + "styles\" Target=\"styles.xml\"/>";
  rels += "</Relationships>";
  out.push_back({"xl/workbook.xml", workbook});
  out.push_back({"xl/_rels/workbook.xml.rels", rels});

  for (std::size_t i = 0; i < sheets.size(); ++i) {
    const std::string& body = sheets[i].second;
    bool whole = body.rfind("<?xml", 0) == 0 || body.rfind("<worksheet", 0) == 0;
    out.push_back({"xl/worksheets/sheet" + std::to_string(i + 1) + ".xml",
                   whole ? body : worksheet("", body)});
  }
  if (!sharedStrings.empty())
    out.push_back({"xl/sharedStrings.xml", head +
        "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">" + sharedStrings + "</sst>"});
  if (!cellXfs.empty()) {
    std::size_t count = 0;
    for (std::size_t p = cellXfs.find("<xf"); p != std::string::npos; p = cellXfs.find("<xf", p + 3)) ++count;
    out.push_back({"xl/styles.xml", head +
        "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">" +
        (numFmts.empty() ? std::string() : "<numFmts>" + numFmts + "</numFmts>") +
        "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\"/></cellStyleXfs>"
        "<cellXfs count=\"" + std::to_string(count) + "\">" + cellXfs + "</cellXfs></styleSheet>"});
  }
  for (const Member& m : extra) out.push_back(m);
  return out;
}

}  // namespace tabulon::test
