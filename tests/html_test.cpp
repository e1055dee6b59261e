// The HTML page: what the inspector writes into it, and what a real browser (headless
// Chromium, network blocked) shows of it.
#include "inspect/html.h"

#include <cairo.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>

#include "binary.h"
#include "testutil.h"

namespace {

using namespace tessloom;
using meshfile::Layout;
using meshfile::MeshFile;
namespace fs = std::filesystem;

using test::exampleMesh;

std::string page(const std::vector<std::uint8_t>& bytes, const std::string& name) {
    const meshfile::SpanSource source(bytes);
    const auto sections = meshfile::locateSections(source, Layout::kWithMaterials);
    inspect::Checker checker(sections);
    meshfile::visitMeshFile(source, sections, checker);
    std::string text;
    const auto summary = inspect::writePage(source, sections, checker, name,
                                            [&](std::string_view piece) { text += piece; });
    EXPECT_EQ(summary.bytes, text.size());
    return text;
}

// The text between `open` (which must occur once) and the next `close`.
std::string between(const std::string& text, const std::string& open, const std::string& close) {
    const auto from = text.find(open);
    EXPECT_NE(from, std::string::npos) << open;
    EXPECT_EQ(text.find(open, from + 1), std::string::npos) << open << " twice";
    if (from == std::string::npos) return "";
    const auto start = from + open.size();
    return text.substr(start, text.find(close, start) - start);
}

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The bytes of base64 text, line feeds aside; nothing unless it is canonical: whole groups
// of four, padding only at the end, and the bits the padding leaves unused all zero (a
// digit made from a byte past the end would set them).
std::optional<std::vector<std::uint8_t>> fromBase64(const std::string& text) {
    const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string groups;
    for (const char c : text)
        if (c != '\n') groups += c;
    if (groups.size() % 4 != 0) return std::nullopt;
    std::vector<std::uint8_t> out;
    for (std::size_t g = 0; g < groups.size(); g += 4) {
        const bool last = g + 4 == groups.size();
        const int padding = !last ? 0 : groups[g + 2] == '=' ? 2 : groups[g + 3] == '=' ? 1 : 0;
        std::uint32_t bits = 0;
        for (int k = 0; k < 4; ++k) {
            const std::size_t at = k < 4 - padding ? digits.find(groups[g + k]) : 0;
            if (at == std::string::npos) return std::nullopt;
            bits = bits << 6 | static_cast<std::uint32_t>(at);
        }
        if (padding == 2 && (bits & 0xffff) != 0) return std::nullopt;
        if (padding == 1 && (bits & 0xff) != 0) return std::nullopt;
        for (int k = 0; k < 3 - padding; ++k)
            out.push_back(static_cast<std::uint8_t>(bits >> (16 - 8 * k)));
    }
    return out;
}

// The file's bytes, embedded as base64, with its counts, the offsets of its sections and
// the layout of its records as the page reads them. The box's file ends in its largest z,
// 10.0f (bytes 00 00 20 41): its last group of base64 holds one, two or three of those bytes
// as its length is 1, 2 or 0 modulo 3. Names longer than the 48 KiB the page encodes at a
// time leave the last read short, after a full one of the name's bytes.
TEST(HtmlPage, HoldsTheFileItsCountsAndItsSummary) {
    const std::string longName(49152, '\xc1');
    std::string shownLong;  // quoted, each byte as \xc1
    for (std::size_t i = 0; i < longName.size(); ++i) shownLong += "\\xc1";
    const struct {
        std::string bitmap, shownBitmap, file, shownFile, title, lastGroup;
    } rows[] = {
        // the name and the file's name would end their elements early if written raw
        {"</script><b>\xff", "\"</script><b>\\xff\"", "a</title>&\x01.obj", "a</title>&\\x01.obj",
         "a&lt;/title&gt;&amp;\\x01.obj", "IEE="},
        {"", "\"\"", "box.obj", "box.obj", "box.obj", "QQ=="},
        {"ab", "\"ab\"", "box.obj", "box.obj", "box.obj", "ACBB"},
        {longName, "\"" + shownLong + "\"", "long.obj", "long.obj", "long.obj", "QQ=="},
        {longName + "a", "\"" + shownLong + "a\"", "long.obj", "long.obj", "long.obj", "IEE="},
        {longName + "ab", "\"" + shownLong + "ab\"", "long.obj", "long.obj", "long.obj", "ACBB"},
    };
    for (const auto& row : rows) {
        MeshFile mesh = exampleMesh();
        mesh.materials[0].name = row.bitmap;
        const auto bytes = meshfile::encodeMeshFile(mesh);
        const std::string text = page(bytes, row.file);
        const std::size_t nameLength = row.bitmap.size();
        SCOPED_TRACE(std::to_string(nameLength) + "-byte name, " + std::to_string(bytes.size()) +
                     "-byte file");

        EXPECT_EQ(between(text, "<title>", "</title>"), row.title);
        EXPECT_EQ(occurrences(text, "</title"), 1u);
        EXPECT_EQ(occurrences(text, "</script"), 4u);  // the page's own four elements
        EXPECT_EQ(
            between(text, "<body ", ">"),
            "data-faces=\"12\" data-vertices=\"8\" data-entries=\"1\" data-state=\"loading\"");
        const std::string embedded = between(text, "id=\"tessloom-mesh\">", "</script>");
        EXPECT_EQ(fromBase64(embedded), bytes);
        EXPECT_TRUE(embedded.ends_with(row.lastGroup + "\n"))
            << embedded.substr(embedded.size() - 8);

        const auto info =
            nlohmann::json::parse(between(text, "id=\"tessloom-info\">", "</script>"));
        // 4 (entry count) + 68 + the name + 4 (vertex count), then the 8 vertices and the
        // texture-vertex count, then the 12 texture vertices and the face count
        const std::size_t vertices = 76 + nameLength;
        EXPECT_EQ(info["at"]["vertices"], vertices);
        EXPECT_EQ(info["at"]["texVertices"], vertices + 8 * 12 + 4);
        EXPECT_EQ(info["at"]["faces"], vertices + 8 * 12 + 4 + 12 * 8 + 4);
        // a face: material index, three corners, three texture corners, the face normal and
        // the three corner normals, four bytes each
        EXPECT_EQ(info["records"], nlohmann::json::parse(R"({"vertexBytes": 12, "texVertexBytes": 8,
                      "faceBytes": 76, "face": {"material": 0, "corners": 4, "texCorners": 16,
                      "normal": 28, "cornerNormals": 40}})"));
        EXPECT_EQ(info["file"], row.shownFile);
        EXPECT_EQ(info["materials"][0]["name"], row.shownBitmap);
        EXPECT_FLOAT_EQ(info["materials"][0]["diffuse"][1].get<float>(),
                        mesh.materials[0].diffuse[1]);
        EXPECT_EQ(info["bounds"]["y"], "0 20");
        ASSERT_EQ(info["checks"].size(), 10u);
        EXPECT_EQ(info["checks"][0]["name"], "sizes");
        for (const auto& c : info["checks"]) EXPECT_EQ(c["outcome"], "pass") << c["name"];
    }
}

// A file of this size whose bytes are all zero, without holding them.
class ZeroSource : public meshfile::ByteSource {
  public:
    explicit ZeroSource(std::uint64_t size) : size_(size) {}
    std::uint64_t size() const override { return size_; }
    void read(std::uint64_t, void* out, std::size_t n) const override { std::memset(out, 0, n); }

  private:
    std::uint64_t size_;
};

TEST(HtmlPage, RefusesMoreFacesThanABrowserHolds) {
    // too many faces; one face and 30 million vertices, whose bytes are as many
    meshfile::Sections faces, vertices;
    faces.numFaces = inspect::kMaxPageFaces + 1;
    vertices.numFaces = 1;
    vertices.numVertex = 30'000'000;
    const std::pair<meshfile::Sections, std::uint64_t> rows[] = {
        {faces, 0}, {vertices, inspect::kMaxPageFileBytes + 1}};
    for (const auto& [sections, size] : rows) {
        bool wrote = false;
        EXPECT_THROW(inspect::writePage(ZeroSource(size), sections, inspect::Checker(sections),
                                        "big.obj", [&](std::string_view) { wrote = true; }),
                     inspect::PageError);
        EXPECT_FALSE(wrote);
    }
}

// The programs run in the runner's work folder.
class HtmlRun : public test::Driver {
  protected:
    fs::path mesh(const MeshFile& m, const std::string& name) const {
        const auto bytes = meshfile::encodeMeshFile(m);
        test::writeFile(dir_ / name, std::string(bytes.begin(), bytes.end()));
        return dir_ / name;
    }
    // The page of `mesh` as `name`.html beside it; the exit status tells the checks' outcome.
    fs::path html(const fs::path& meshPath, int expected = 0) {
        fs::path out = meshPath;
        out.replace_extension(".html");
        EXPECT_EQ(inspect("'" + meshPath.string() + "' --html '" + out.string() + "'"), expected);
        return out;
    }
};

TEST_F(HtmlRun, TheProgramWritesThePageOrNothing) {
    const fs::path page = html(mesh(exampleMesh(), "box.obj"));
    EXPECT_EQ(out_,
              page.string() + ": " + std::to_string(fs::file_size(page)) + " bytes, 12 faces\n");
    EXPECT_EQ(inspect("box.obj --html nodir/box.html"), 1);
    EXPECT_FALSE(fs::exists(dir_ / "nodir"));
    // the input itself is no place for the page; nor does a page go with a dump
    const std::string before = test::readFile(dir_ / "box.obj");
    EXPECT_EQ(inspect("box.obj --html box.obj"), 1);
    EXPECT_EQ(test::readFile(dir_ / "box.obj"), before);
    EXPECT_EQ(inspect("box.obj --dump --html x.html"), 2);
    EXPECT_FALSE(fs::exists(dir_ / "x.html"));
}

// Headless Chromium with software WebGL, a profile of its own, and every host name
// unresolvable, so a page that asked the network for anything would fail to show.
class Browser : public HtmlRun {
  protected:
    void SetUp() override {
#ifdef TESSLOOM_SANITIZED
        GTEST_SKIP() << "the browser checks run in the plain build only: the page is the same";
#endif
        HtmlRun::SetUp();
        if (sh("command -v chromium") != 0) GTEST_SKIP() << "no chromium";
    }

    // Loads `page` (with `fragment`) and returns the document once its script has run; with
    // `png`, takes a screenshot too. Fails the test on any console message or uncaught error.
    std::string load(const fs::path& page, const std::string& fragment, const fs::path& png = {},
                     const std::string& window = "1280,800") {
        const fs::path profile = dir_ / "profile";
        fs::remove_all(profile);
        const std::string command =
            "timeout 120 chromium --headless=new " +
            std::string(::geteuid() == 0 ? "--no-sandbox " : "") +
            "--use-angle=swiftshader --enable-unsafe-swiftshader --no-first-run "
            "--disable-background-networking --disable-component-update --disable-sync "
            "--host-resolver-rules='MAP * ~NOTFOUND' --enable-logging=stderr "
            "--window-size=" +
            window +
            " --hide-scrollbars --virtual-time-budget=2000 "
            "--user-data-dir='" +
            profile.string() + "' " + "--dump-dom " +
            (png.empty() ? "" : "--screenshot='" + png.string() + "' ") + "'file://" +
            page.string() + fragment + "'";
        EXPECT_EQ(sh(command), 0) << err_;
        EXPECT_EQ(err_.find(":CONSOLE"), std::string::npos) << err_;
        EXPECT_EQ(err_.find("Uncaught"), std::string::npos) << err_;
        return out_;
    }

    static std::string body(const std::string& dom) {
        const auto at = dom.find("<body ");
        return at == std::string::npos ? "" : dom.substr(at, dom.find('>', at) - at + 1);
    }
};

TEST_F(Browser, CountsStateAndThePickedFace) {
    // the view looks at the middle of the box (0 10 0) from (0.55 0.45 1): its centre ray
    // meets the z = 10 side at x 5.5, y 14.5, below the diagonal from vertex 0 (-10 0) to
    // vertex 5 (10 20), in face 4 (vertices 0 1 5)
    const std::string dom = load(html(mesh(exampleMesh(), "box.obj")), "#pick=0,0");
    const std::string b = body(dom);
    ASSERT_NE(b.find(" data-ready-ms=\""), std::string::npos) << b;  // the time varies
    EXPECT_EQ(b.substr(0, b.find(" data-ready-ms=")),
              "<body data-faces=\"12\" data-vertices=\"8\" data-entries=\"1\" data-state=\"ready\" "
              "data-colours=\"diffuse\" data-drawn-faces=\"12\" data-picked-face=\"4\"");
    EXPECT_NE(dom.find("<th>corner c</th><td>vertex 5: 10 20 10</td>"), std::string::npos);
    EXPECT_NE(dom.find("<title>box.obj</title>"), std::string::npos);
}

TEST_F(Browser, AMeshWithNothingToDrawSaysSo) {
    MeshFile empty = exampleMesh();
    empty.faces.clear();
    MeshFile undrawable = exampleMesh();
    for (auto& f : undrawable.faces) f.b = 99;
    // the checks find every corner naming vertex 99: status 1
    using Case = std::tuple<const MeshFile*, int, std::string>;
    const Case cases[] = {
        {&empty, 0, "This mesh has no faces"},
        {&undrawable, 1, "None of the 12 faces can be drawn"},
    };
    for (const auto& [m, status, message] : cases) {
        const std::string dom = load(html(mesh(*m, "nothing.obj"), status), "");
        EXPECT_NE(body(dom).find("data-state=\"empty\""), std::string::npos) << message;
        EXPECT_NE(dom.find("<p id=\"message\">" + message), std::string::npos) << dom;
        EXPECT_EQ(dom.find("<canvas"), std::string::npos);
    }
}

// A screenshot read back: its size and each pixel's bytes, B G R A.
class Png {
  public:
    explicit Png(const fs::path& png)
        : image_(cairo_image_surface_create_from_png(png.c_str()), cairo_surface_destroy) {
        EXPECT_EQ(cairo_surface_status(image_.get()), CAIRO_STATUS_SUCCESS) << png;
    }
    int width() const { return cairo_image_surface_get_width(image_.get()); }
    int height() const { return cairo_image_surface_get_height(image_.get()); }
    const unsigned char* at(int x, int y) const {
        return cairo_image_surface_get_data(image_.get()) +
               y * cairo_image_surface_get_stride(image_.get()) + 4 * x;
    }
    // within a little of the view's background, #f4f4f4
    bool background(int x, int y) const {
        const unsigned char* p = at(x, y);
        return std::abs(p[2] - 0xf4) + std::abs(p[1] - 0xf4) + std::abs(p[0] - 0xf4) < 24;
    }

  private:
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> image_;
};

// Pixels of the view (right of the panel) that differ by more than a little between two
// screenshots of the same size, as a share of the view.
double differingShare(const fs::path& one, const fs::path& two) {
    const Png a(one), b(two);
    EXPECT_EQ(std::make_pair(a.width(), a.height()), std::make_pair(b.width(), b.height()));
    if (a.width() != b.width() || a.height() != b.height() || a.width() <= 400) return 1;
    std::size_t differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 400; x < a.width(); ++x) {
            int d = 0;
            for (int c = 0; c < 3; ++c) d += std::abs(a.at(x, y)[c] - b.at(x, y)[c]);
            differing += d > 24;
        }
    }
    return double(differing) / (double(a.width() - 400) * a.height());
}

// Faces whose stored normal is zero (or not a number) are lit by their winding, and the
// panel says how many: the box with its normals zeroed looks as it does with them, as the
// box's winding gives the normals it stores.
TEST_F(Browser, ZeroNormalsAreLitByTheWinding) {
    constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
    MeshFile zeroed = exampleMesh();
    for (auto& f : zeroed.faces) f.faceNormal = f.normalA = f.normalB = f.normalC = {};
    zeroed.faces[3].faceNormal = {kNan, 0, 0};
    MeshFile one = exampleMesh();
    one.faces[0].faceNormal = {-0.0f, 0, 0};
    const fs::path boxPng = dir_ / "box.png", zeroedPng = dir_ / "zeroed.png";
    const std::string box = load(html(mesh(exampleMesh(), "box.obj")), "", boxPng);
    EXPECT_EQ(body(box).find("data-winding-faces"), std::string::npos) << body(box);
    EXPECT_EQ(box.find("<th>normals</th>"), std::string::npos);
    using Case = std::tuple<const MeshFile*, const char*, const char*>;
    const Case cases[] = {
        {&zeroed, "12", "12 of 12 faces store a zero normal: lit by their winding instead"},
        {&one, "1", "1 of 12 faces store a zero normal: lit by their winding instead"},
    };
    for (const auto& [m, count, panel] : cases) {
        const std::string dom = load(html(mesh(*m, "zeroed.obj")), "", zeroedPng);
        EXPECT_NE(body(dom).find(std::string("data-winding-faces=\"") + count + "\""),
                  std::string::npos)
            << body(dom);
        EXPECT_NE(dom.find(std::string("<th>normals</th><td>") + panel + "</td>"),
                  std::string::npos)
            << panel;
        EXPECT_LT(differingShare(boxPng, zeroedPng), 0.005) << panel;
    }
}

// Shares of the view's pixels (right of the panel) that are not its background, and of those
// that are strongly coloured (channels far apart: not grey).
std::pair<double, double> colourShares(const fs::path& png) {
    const Png image(png);
    std::size_t all = 0, drawn = 0, coloured = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 400; x < image.width(); ++x, ++all) {
            if (image.background(x, y)) continue;
            const int b = image.at(x, y)[0], g = image.at(x, y)[1], r = image.at(x, y)[2];
            ++drawn;
            coloured += std::max({r, g, b}) - std::min({r, g, b}) > 60;
        }
    }
    return {double(drawn) / double(all), drawn ? double(coloured) / double(drawn) : 0};
}

TEST_F(Browser, TheBoxIsGreyAndASeveralMaterialMeshIsColoured) {
    const fs::path boxPng = dir_ / "box.png";
    EXPECT_NE(body(load(html(mesh(exampleMesh(), "box.obj")), "", boxPng))
                  .find("data-state=\"ready\" data-colours=\"diffuse\""),
              std::string::npos);
    const auto [boxDrawn, boxColoured] = colourShares(boxPng);
    EXPECT_GT(boxDrawn, 0.2);      // the box fills much of the view
    EXPECT_LT(boxColoured, 0.02);  // in its one grey diffuse colour (the bounds' thin lines)

    const fs::path scene = fs::path(TESSLOOM_CORPUS_DIR) / "kgca__ship.ASE";
    if (!fs::exists(scene)) GTEST_SKIP() << "no corpus at " << TESSLOOM_CORPUS_DIR;
    const fs::path ship = dir_ / "ship.obj";
    ASSERT_EQ(run("'" + scene.string() + "' '" + ship.string() + "'"), 0);
    const fs::path shipPage = html(ship), shipPng = dir_ / "ship.png";
    const std::string dom = load(shipPage, "", shipPng);
    const auto [shipDrawn, shipColoured] = colourShares(shipPng);
    EXPECT_GT(shipDrawn, 0.05);
    // its five entries share one grey diffuse colour, so each gets a hue of its own
    EXPECT_GT(shipColoured, 0.5);
    EXPECT_NE(body(dom).find("data-faces=\"4158\" data-vertices=\"2656\" data-entries=\"5\" "
                             "data-state=\"ready\" data-colours=\"distinct\""),
              std::string::npos)
        << body(dom);
}

// A strip 100 units long along x, 2 high, in z = 0: the shape whose sides a tall window
// cuts off when the view is framed for its height alone. With `entries` material entries
// the panel's legend is that long.
MeshFile strip(int entries) {
    MeshFile m;
    m.layout = entries > 0 ? meshfile::Layout::kWithMaterials : meshfile::Layout::kWithoutMaterials;
    for (int e = 0; e < entries; ++e) {
        meshfile::MaterialEntry entry;
        entry.diffuse[0] = entry.diffuse[1] = entry.diffuse[2] = 0.5f;
        entry.name = "entry" + std::to_string(e);
        m.materials.push_back(entry);
    }
    m.vertices = {{-50, 0, 0}, {50, 0, 0}, {50, 2, 0}, {-50, 2, 0}};
    for (const auto& [a, b, c] : {std::array{0, 1, 2}, std::array{0, 2, 3}}) {
        meshfile::FaceRecord f;
        f.a = a;
        f.b = b;
        f.c = c;
        f.material = entries > 0 ? 0 : -1;  // -1: the value of a file without materials
        f.faceNormal = f.normalA = f.normalB = f.normalC = {0, 0, 1};
        m.faces.push_back(f);
    }
    for (const auto& v : m.vertices) meshfile::extendBounds(m.bounds, v);
    return m;
}

// The smallest box around the pixels of the view (the screenshot's part right of the panel)
// that are not its background, and where the view begins.
struct Drawn {
    int viewLeft = -1, left = -1, right = -1, top = -1, bottom = -1, width = 0, height = 0;
};

Drawn drawnBox(const fs::path& png) {
    const Png image(png);
    Drawn d{.width = image.width(), .height = image.height()};
    auto background = [&](int x, int y) { return image.background(x, y); };
    // the panel is white down to the bottom: the view begins at the first background pixel
    for (int x = 0; x < d.width && d.viewLeft < 0; ++x)
        if (background(x, d.height - 1)) d.viewLeft = x;
    for (int y = 0; y < d.height; ++y) {
        for (int x = std::max(d.viewLeft, 0); x < d.width; ++x) {
            if (background(x, y)) continue;
            d.left = d.left < 0 ? x : std::min(d.left, x);
            d.right = std::max(d.right, x);
            d.top = d.top < 0 ? y : d.top;
            d.bottom = y;
        }
    }
    return d;
}

// The mesh is framed whole in the window's shape: its drawn box (the stored bounds' lines
// included) inside the view with room to spare on every side, and filling much of the
// narrower way.
TEST_F(Browser, TheWholeMeshIsFramedInWideAndTallWindows) {
    const fs::path page = html(mesh(strip(0), "strip.obj"));
    for (const std::string window : {"1280,800", "1280,1300", "700,1300"}) {
        SCOPED_TRACE(window);
        const fs::path png = dir_ / "strip.png";
        load(page, "", png, window);
        const Drawn d = drawnBox(png);
        ASSERT_GT(d.viewLeft, 0);
        ASSERT_GE(d.left, 0) << "nothing drawn";
        EXPECT_GT(d.left, d.viewLeft + 2);
        EXPECT_LT(d.right, d.width - 3);
        EXPECT_GT(d.top, 2);
        EXPECT_LT(d.bottom, d.height - 3);
        // the strip lies along the view's width: it spans more than half of it
        EXPECT_GT(d.right - d.left, (d.width - d.viewLeft) / 2);
    }
}

// The view's checkboxes are on screen at the start, above the fold of a 1280x800 window,
// however long the panel's other tables are. A probe appended to the page (after its own
// script) notes the lowest checkbox's bottom edge and the panel's scroll position.
TEST_F(Browser, TheViewTogglesNeedNoScrolling) {
    const std::string probe =
        "<script>{const p=document.getElementById('panel');"
        "const b=Math.max(...[...document.querySelectorAll('#panel input')]"
        ".map((e)=>e.getBoundingClientRect().bottom));"
        "document.body.dataset.togglesBottom=Math.ceil(b);"
        "document.body.dataset.panelScroll=p.scrollTop;"
        "document.body.dataset.inputs=document.querySelectorAll('#panel input').length;}"
        "</script>";
    for (const int entries : {1, 60}) {
        SCOPED_TRACE(entries);
        const fs::path page = html(mesh(strip(entries), "strip.obj"));
        std::string text = test::readFile(page);
        text.insert(text.rfind("</body>"), probe);
        test::writeFile(page, text);
        const std::string b = body(load(page, ""));
        const auto number = [&](const std::string& name) {
            const auto at = b.find(name + "=\"");
            return at == std::string::npos ? -1 : std::atoi(b.c_str() + at + name.size() + 2);
        };
        EXPECT_EQ(number("data-inputs"), 4) << b;
        EXPECT_EQ(number("data-panel-scroll"), 0) << b;
        EXPECT_GT(number("data-toggles-bottom"), 0) << b;
        EXPECT_LE(number("data-toggles-bottom"), 800) << b;
    }
}

}  // namespace
