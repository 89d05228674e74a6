# frozen_string_literal: true

module Hello
  def self.greeting
    "Hello from a Bundler project"
  end
end
