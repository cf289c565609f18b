"""wexel_test: script test libraries run by an installation of the runner, as a Bazel test.

The installation is a repository of its own (new_local_repository over the installed
tree, with a BUILD file that exports `EXE/wexel-host` and a filegroup `install` of
EXE, SYSTEM and USER/Wexel.qlx; see examples/bazel). Each shard copies nothing large: it
builds a scratch installation in TEST_TMPDIR out of links, puts the libraries into its
USER folder and execs the host, so that Bazel's SIGTERM at a timeout reaches the runner.
"""

def wexel_test(
        name,
        libraries,
        mask = "*.qlx",
        installation = "@wexel",
        shard_count = None,
        env = {},
        **kwargs):
    """Runs the test libraries in mode xml_junit; a failing test fails the target.

    Args:
      name: the target's name.
      libraries: the test libraries (.qlx), copied into the scratch installation's USER.
      mask: which of them to run (the runner's file mask). `bazel test --test_filter=GLOB`
        narrows the run to the tests whose full path matches GLOB (`Orders/Pricing/*`).
      installation: the repository of the installation.
      shard_count: the number of shards; the runner holds each shard's share of the tests.
      env: more environment for the runner (WEXEL_TEST_TIMEOUT, for instance).
      **kwargs: passed on to sh_test (size, timeout, tags, ...).
    """
    host = installation + "//:EXE/wexel-host"
    test_env = {"WEXEL_EXIT_ON_FAILURE": "1"}
    test_env.update(env)
    native.sh_test(
        name = name,
        srcs = [Label("//bazel:wexel_test.sh")],
        data = [host, installation + "//:install"] + libraries,
        args = ["$(rootpath %s)" % host, mask] + ["$(rootpath %s)" % lib for lib in libraries],
        env = test_env,
        shard_count = shard_count,
        **kwargs
    )
