defmodule Hello.MixProject do
  use Mix.Project

  # No dependencies: mix compile needs neither Hex nor the network.
  def project do
    [app: :hello, version: "0.1.0", elixir: "~> 1.14", deps: []]
  end
end
