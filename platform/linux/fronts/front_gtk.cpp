// The front with a display: each window a GTK 3 top-level window with the class's
// menu bar and a drawing area. What the program draws goes into the window's own
// image, which the drawing area paints, so the window keeps its image when covered.
// Built as a module of its own, loaded by front_gtk_module.cpp only when a window is to
// be shown, so that a headless run never maps GTK's libraries.
#include <gtk/gtk.h>
#if PULSEMETER_WITH_X11
#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#endif

#include <algorithm>
#include <cstdio>

#include <unistd.h>
#include <map>
#include <string>
#include <vector>

#include "platform/linux/fronts/front_gtk_module.h"

namespace platform::detail {

namespace {

// No font on Linux is called so; IPAGothic has the same cell proportions: a
// half-width character half as wide as its height, a full-width one as wide.
constexpr const char* japaneseFamilies = "IPAGothic,monospace";

// An opaque text as it stands in a window's image.
struct ShownText {
    int x;
    int y;
    int width;
    int height;
    std::string look;  // characters, colours, face and cell size
};

struct GtkWindowImage {
    uintptr_t handle;
    GtkWidget* window;
    GtkWidget* area;
    cairo_surface_t* image;
    // The program draws the same lines again every tick; an opaque text identical to
    // the one already in its place changes no pixel, so it is not drawn again.
    std::vector<ShownText> shown;
};

bool overlaps(const ShownText& a, int x, int y, int width, int height) {
    return a.x < x + width && x < a.x + a.width && a.y < y + height && y < a.y + a.height;
}

void setColor(cairo_t* cr, COLORREF color) {
    cairo_set_source_rgb(cr, (color & 0xFF) / 255.0, ((color >> 8) & 0xFF) / 255.0,
                         ((color >> 16) & 0xFF) / 255.0);
}

gboolean onDraw(GtkWidget*, cairo_t* cr, gpointer data) {
    auto* window = static_cast<GtkWindowImage*>(data);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_set_source_surface(cr, window->image, 0, 0);
    cairo_paint(cr);
    return TRUE;
}

gboolean onKeyPress(GtkWidget*, GdkEventKey* event, gpointer data) {
    auto* window = static_cast<GtkWindowImage*>(data);
    if ((event->state & (GDK_CONTROL_MASK | GDK_MOD1_MASK)) != 0) {
        return FALSE;
    }
    gunichar character = gdk_keyval_to_unicode(event->keyval);
    if (character < 0x20 || character == 0x7F || !g_unichar_isprint(character)) {
        return FALSE;  // F10 and the other keys keep their GTK meaning
    }
    char utf8[8] = {};
    g_unichar_to_utf8(character, utf8);
    for (unsigned char byte : utf8ToCp932(utf8)) {
        postInput(window->handle, WM_CHAR, byte, 0);
    }
    return TRUE;
}

gboolean onDelete(GtkWidget*, GdkEvent*, gpointer data) {
    sendClose(static_cast<GtkWindowImage*>(data)->handle);
    return TRUE;  // the window procedure decides whether the window goes
}

void onMenuItem(GtkMenuItem* item, gpointer data) {
    auto* window = static_cast<GtkWindowImage*>(data);
    auto command =
        static_cast<WPARAM>(GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(item), "command")));
    postInput(window->handle, WM_COMMAND, command, 0);
}

gboolean onDeadline(gpointer data) {
    *static_cast<bool*>(data) = true;
    return G_SOURCE_REMOVE;
}

GtkWidget* makeMenuBar(GtkWindowImage* window, const MenuBar& menuBar) {
    GtkWidget* bar = gtk_menu_bar_new();
    GtkWidget* popup = gtk_menu_item_new_with_label(menuBar.popupUtf8.c_str());
    GtkWidget* menu = gtk_menu_new();
    for (const MenuItem& entry : menuBar.items) {
        GtkWidget* item = gtk_menu_item_new_with_label(entry.textUtf8.c_str());
        g_object_set_data(G_OBJECT(item), "command", GUINT_TO_POINTER(entry.command));
        g_signal_connect(item, "activate", G_CALLBACK(onMenuItem), window);
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    }
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(popup), menu);
    gtk_menu_shell_append(GTK_MENU_SHELL(bar), popup);
    return bar;
}

class GtkFront : public Front {
public:
    ~GtkFront() override {
        for (auto& [handle, window] : windows_) {
            release(*window);
        }
        for (auto& [key, font] : fonts_) {
            pango_font_description_free(font);
        }
    }

    void createWindow(uintptr_t handle, const std::string& titleUtf8, const MenuBar* menu,
                      int width, int height) override {
        auto window = std::make_unique<GtkWindowImage>();
        window->handle = handle;
        window->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        // Windows counts the frame, caption and menu bar in the size asked for; here
        // the whole GTK window, menu bar included, gets it.
        gtk_window_set_title(GTK_WINDOW(window->window), titleUtf8.c_str());
        gtk_window_set_default_size(GTK_WINDOW(window->window), width, height);
        GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        if (menu != nullptr) {
            gtk_box_pack_start(GTK_BOX(box), makeMenuBar(window.get(), *menu), FALSE, FALSE, 0);
        }
        window->area = gtk_drawing_area_new();
        gtk_box_pack_start(GTK_BOX(box), window->area, TRUE, TRUE, 0);
        gtk_container_add(GTK_CONTAINER(window->window), box);
        window->image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
        g_signal_connect(window->area, "draw", G_CALLBACK(onDraw), window.get());
        g_signal_connect(window->window, "key-press-event", G_CALLBACK(onKeyPress), window.get());
        g_signal_connect(window->window, "delete-event", G_CALLBACK(onDelete), window.get());
        eraseImage(*window, RGB(255, 255, 255));
        windows_[handle] = std::move(window);
    }

    void setTitle(uintptr_t handle, const std::string& titleUtf8) override {
        if (GtkWindowImage* window = find(handle)) {
            gtk_window_set_title(GTK_WINDOW(window->window), titleUtf8.c_str());
        }
    }

    void showWindow(uintptr_t handle, bool visible) override {
        if (GtkWindowImage* window = find(handle)) {
            visible ? gtk_widget_show_all(window->window) : gtk_widget_hide(window->window);
        }
    }

    void destroyWindow(uintptr_t handle) override {
        auto found = windows_.find(handle);
        if (found != windows_.end()) {
            release(*found->second);
            windows_.erase(found);
        }
    }

    void eraseWindow(uintptr_t handle, COLORREF color) override {
        if (GtkWindowImage* window = find(handle)) {
            eraseImage(*window, color);
            gtk_widget_queue_draw(window->area);
        }
    }

    void drawText(uintptr_t handle, const TextRun& run) override {
        GtkWindowImage* window = find(handle);
        if (window == nullptr) {
            return;
        }
        int cells = 0;
        std::string look;
        for (const TextCell& character : run.characters) {
            cells += character.cells;
            look += character.utf8;
        }
        const int width = cells * run.cellWidth;
        look += '\0' + std::to_string(run.textColor) + ',' + std::to_string(run.backgroundColor) +
                ',' + run.face + ',' + std::to_string(run.cellWidth) + ',' +
                std::to_string(run.cellHeight);
        std::vector<ShownText>& shown = window->shown;
        if (run.opaque && std::any_of(shown.begin(), shown.end(), [&](const ShownText& t) {
                return t.x == run.x && t.y == run.y && t.width == width &&
                       t.height == run.cellHeight && t.look == look;
            })) {
            return;
        }
        std::erase_if(shown, [&](const ShownText& t) {
            return overlaps(t, run.x, run.y, width, run.cellHeight);
        });
        if (run.opaque) {
            shown.push_back(ShownText{run.x, run.y, width, run.cellHeight, look});
        }

        cairo_t* cr = cairo_create(window->image);
        // Nothing of the text reaches outside its cells, where a later text's opaque
        // background would not cover it.
        cairo_rectangle(cr, run.x, run.y, width, run.cellHeight);
        cairo_clip(cr);
        if (run.opaque) {
            setColor(cr, run.backgroundColor);
            cairo_paint(cr);
        }
        PangoLayout* layout = pango_cairo_create_layout(cr);
        PangoFontDescription* font = fontFor(layout, run);
        pango_layout_set_font_description(layout, font);
        setColor(cr, run.textColor);
        // Each character at its own cell, whatever the font's advances.
        int column = 0;
        for (const TextCell& character : run.characters) {
            if (character.utf8 != " ") {
                pango_layout_set_text(layout, character.utf8.c_str(), -1);
                cairo_move_to(cr, run.x + column * run.cellWidth, run.y);
                pango_cairo_show_layout(cr, layout);
            }
            column += character.cells;
        }
        g_object_unref(layout);
        cairo_destroy(cr);
        cairo_surface_flush(window->image);
        gtk_widget_queue_draw_area(window->area, run.x, run.y, width, run.cellHeight);
    }

    bool wait(std::optional<uint64_t> deadline) override {
        bool due = false;
        guint source = 0;
        if (deadline) {
            uint64_t now = nowMicros();
            guint ms = *deadline > now ? static_cast<guint>((*deadline - now + 999) / 1000) : 0;
            source = g_timeout_add(ms, onDeadline, &due);
        }
        g_main_context_iteration(nullptr, TRUE);
        if (source != 0 && !due) {
            g_source_remove(source);
        }
        return true;
    }

private:
    // The face at the size whose line (ascent and descent) fills the cell, as a GDI
    // cell height counts them: so even "_", at the bottom of the line, stays inside.
    PangoFontDescription* fontFor(PangoLayout* layout, const TextRun& run) {
        std::string families = run.face == "IPAGothic" ? japaneseFamilies : run.face + ",monospace";
        auto key = std::make_pair(families, run.cellHeight);
        auto found = fonts_.find(key);
        if (found != fonts_.end()) {
            return found->second;
        }
        PangoFontDescription* font = pango_font_description_from_string(families.c_str());
        int cell = run.cellHeight * PANGO_SCALE;
        pango_font_description_set_absolute_size(font, cell);
        pango_layout_set_font_description(layout, font);
        pango_layout_set_text(layout, "\xe5\x88\x86_", -1);  // "分_"
        PangoRectangle logical;
        pango_layout_get_extents(layout, nullptr, &logical);
        if (logical.height > cell) {
            pango_font_description_set_absolute_size(
                font, static_cast<double>(cell) * cell / logical.height);
        }
        fonts_[key] = font;
        return font;
    }

    GtkWindowImage* find(uintptr_t handle) {
        auto found = windows_.find(handle);
        return found == windows_.end() ? nullptr : found->second.get();
    }

    static void eraseImage(GtkWindowImage& window, COLORREF color) {
        window.shown.clear();
        cairo_t* cr = cairo_create(window.image);
        setColor(cr, color);
        cairo_paint(cr);
        cairo_destroy(cr);
    }

    static void release(GtkWindowImage& window) {
        g_signal_handlers_disconnect_by_data(window.window, &window);
        g_signal_handlers_disconnect_by_data(window.area, &window);
        gtk_widget_destroy(window.window);
        cairo_surface_destroy(window.image);
    }

    std::map<uintptr_t, std::unique_ptr<GtkWindowImage>> windows_;
    std::map<std::pair<std::string, int>, PangoFontDescription*> fonts_;
};

#if PULSEMETER_WITH_X11
// The X server went away (shut down, the session ended, the connection broke): nothing
// can be shown any more. GTK's own handler ends the program without a word; this one
// says why first. Xlib allows no return from here, and GTK's exit handlers would touch
// the dead connection, so the program ends at once, its output flushed.
int onDisplayLost(Display*) {
    const char* program = g_get_prgname();
    std::fprintf(stderr, "%s: lost the connection to the display; ending\n",
                 program != nullptr ? program : "pulsemeter");
    std::fflush(nullptr);
    _exit(1);
}
#endif

}  // namespace

}  // namespace platform::detail

extern "C" {

bool pulsemeter_gtk_available(int* argc, char*** argv, std::string* why) {
    if (!gtk_init_check(argc, argv)) {
        *why = "GTK cannot open the display";
        return false;
    }
#if PULSEMETER_WITH_X11
    if (GDK_IS_X11_DISPLAY(gdk_display_get_default())) {
        XSetIOErrorHandler(platform::detail::onDisplayLost);
    }
#endif
    return true;
}

platform::detail::Front* pulsemeter_gtk_front_make(const platform::FrontConfig*) {
    return new platform::detail::GtkFront();
}
}
