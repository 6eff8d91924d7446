// Console lines to the running daemon's status server inside its world.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "console_test_util.h"
#include "e2e.h"

// The status port of the default configuration, inside the world's own
// network.
inline const int CONSOLE_E2E_PORT = 54322;

// The status server listens (bounded wait).
inline bool console_e2e_listening(const e2e_world &w)
{
    return e2e_world::wait_for(
        [&] { return w.ns.run({"ss", "-ltnH"}).out.find(":54322 ") != std::string::npos; }, 20000);
}

// One command on a connection of its own: the whole answer (up to the
// "\r\n" that ends it).
inline std::string console_e2e_ask(const e2e_world &w, const std::string &line)
{
    e2e_namespace::net_guard inside(w.ns);
    EXPECT_TRUE(inside.ok());
    console_conn c(CONSOLE_E2E_PORT);
    c.read_until(CONSOLE_GREETING);
    c.send(line + "\n");
    std::string answer = c.read_until("\r\n");
    c.send("q\n");
    c.read_until("Closing terminal\n");
    return answer;
}
