/* The floor of the GTK front: a bare 500 x 400 GTK window whose timer fires first after
 * 100 ms and then every 50 ms, doing nothing. It writes "tick" at the first expiry, so
 * that its start-up can be timed as the program's is.
 * Usage: floor_gtk [SECONDS] (default 20). */
#include <gtk/gtk.h>
#include <stdio.h>
#include <stdlib.h>

static gboolean idle_tick(gpointer data) {
    (void)data;
    return G_SOURCE_CONTINUE;
}

static gboolean first_tick(gpointer data) {
    (void)data;
    puts("tick");
    fflush(stdout);
    g_timeout_add(50, idle_tick, NULL);
    return G_SOURCE_REMOVE;
}

static gboolean end_run(gpointer data) {
    (void)data;
    gtk_main_quit();
    return G_SOURCE_REMOVE;
}

int main(int argc, char** argv) {
    double seconds = argc > 1 ? atof(argv[1]) : 20.0;
    gtk_init(&argc, &argv);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "floor");
    gtk_window_set_default_size(GTK_WINDOW(window), 500, 400);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
    gtk_widget_show_all(window);
    g_timeout_add(100, first_tick, NULL);
    g_timeout_add((guint)(seconds * 1000.0), end_run, NULL);
    gtk_main();
    return 0;
}
